#pragma once
// Work shared out over the run's threads, one item at a time so that the threads stay busy
// whatever an item costs, with one rule for failures wherever the tool does this: the first item
// that throws stops the handing out, and once every thread has stopped its exception is the one
// rethrown; of several, the lowest item's, so the error names the same frame whatever order the
// threads ran in.

#include <cstddef>
#include <functional>

namespace framemeld::cli {

using ItemWork = std::function<void(std::size_t item)>;

// Calls work(i) for every i in [0, count) on up to `threads` threads, the calling thread one of
// them. `stopped`, when given, is asked before each item: once it says yes, no further item
// starts (the caller says what a stop means). Rethrows as above.
void forEachItem(std::size_t count, int threads, const ItemWork &work,
                 const std::function<bool()> &stopped = {});

// The same, for work that keeps state of its own on each thread (a decoder, scratch rows): each
// thread calls makeWork() once and then what it returned for every item it takes.
void forEachItemPerThread(std::size_t count, int threads, const std::function<ItemWork()> &makeWork,
                          const std::function<bool()> &stopped = {});

} // namespace framemeld::cli
