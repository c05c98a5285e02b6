// The values that one output position takes across the sampled frames of a render.
#pragma once

#include <cstddef>
#include <new>

// Element k holds the position's value in sampled frame k. Each element is a pixel of its own on
// the heap; the string owns the pointer array and every element. x and y only name the position:
// the consensus does not depend on them, and a string may be reused along a row by updating x and
// overwriting the elements.
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
  void release() noexcept;
};

template <typename P>
PixelString<P>::PixelString(int column, int row, int elementCount)
    : pixels(nullptr), x(0), y(0), length(elementCount) {
  if (elementCount < 0) {
    throw std::bad_array_new_length();
  }
  // The entries start null so that, when an element allocation fails part-way, exactly the
  // elements made so far are freed before the failure leaves the constructor.
  pixels = new P *[static_cast<std::size_t>(elementCount)]();
  try {
    for (int k = 0; k < elementCount; ++k) {
      pixels[k] = new P();
    }
  } catch (...) {
    release();
    throw;
  }
  x = column;
  y = row;
}

template <typename P> PixelString<P>::~PixelString() { release(); }

template <typename P> void PixelString<P>::release() noexcept {
  if (pixels == nullptr) {
    return;
  }
  for (int k = 0; k < length; ++k) {
    delete pixels[k];
  }
  delete[] pixels;
  pixels = nullptr;
}
