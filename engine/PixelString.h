// The values that one output position takes across the sampled frames of a render.
#pragma once

#include <cstddef>
#include <new>

// Element k holds the position's value in sampled frame k. Each element is a pixel of its own,
// reached through its entry in `pixels`; the string owns the pointer array and every element. x
// and y only name the position: the consensus does not depend on them, and a string may be
// reused along a row by updating x and overwriting the elements.
//
// The pointer array and the elements share one heap block, the elements right behind the
// pointers and in index order, so that a string costs one allocation instead of one per
// element, and reading the string walks memory in order.
template <typename P> class PixelString {
public:
    P **pixels;
    int x;
    int y;
    int length;

    // Every element starts value-initialised (all components zero). A negative length is refused
    // with std::bad_array_new_length, as an array allocation of that size would be.
    PixelString(int column, int row, int elementCount);
    ~PixelString();

    // Copies would free the same pixels twice.
    PixelString(const PixelString &) = delete;
    PixelString &operator=(const PixelString &) = delete;

    // No bounds check: valid for 0 <= i < length.
    P &operator[](int i) { return *pixels[i]; }
    const P &operator[](int i) const { return *pixels[i]; }

private:
    static std::size_t elementOffset(std::size_t count)
    {
        const std::size_t pointers = count * sizeof(P *);
        return (pointers + alignof(P) - 1) / alignof(P) * alignof(P);
    }
    void destroyElements(std::size_t constructed) noexcept;
};

template <typename P>
PixelString<P>::PixelString(int column, int row, int elementCount)
    : pixels(nullptr), x(0), y(0), length(elementCount)
{
    static_assert(alignof(P) <= alignof(std::max_align_t), "elements share the block's alignment");
    if (elementCount < 0) {
        throw std::bad_array_new_length();
    }
    const std::size_t count = static_cast<std::size_t>(elementCount);
    const std::size_t offset = elementOffset(count);
    if (count > (static_cast<std::size_t>(-1) - offset) / sizeof(P)) {
        throw std::bad_array_new_length();
    }
    unsigned char *block = static_cast<unsigned char *>(::operator new(offset + count * sizeof(P)));
    pixels = reinterpret_cast<P **>(block);
    std::size_t constructed = 0;
    try {
        for (; constructed < count; ++constructed) {
            pixels[constructed] = ::new (block + offset + constructed * sizeof(P)) P();
        }
    } catch (...) {
        // Exactly the elements made so far are destroyed before the failure leaves the constructor.
        destroyElements(constructed);
        throw;
    }
    x = column;
    y = row;
}

template <typename P> PixelString<P>::~PixelString()
{
    destroyElements(static_cast<std::size_t>(length > 0 ? length : 0));
}

template <typename P> void PixelString<P>::destroyElements(std::size_t constructed) noexcept
{
    if (pixels == nullptr) {
        return;
    }
    unsigned char *block = reinterpret_cast<unsigned char *>(pixels);
    const std::size_t offset = elementOffset(static_cast<std::size_t>(length));
    for (std::size_t k = 0; k < constructed; ++k) {
        reinterpret_cast<P *>(block + offset + k * sizeof(P))->~P();
    }
    ::operator delete(block);
    pixels = nullptr;
}
