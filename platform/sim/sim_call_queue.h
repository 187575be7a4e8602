// The world's pending main-thread calls: timers, delayed performs and
// scripted actions, ordered by due time and then by posting order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include "platform.h"

namespace qm::sim {

class Process;

namespace detail {

class CallQueue;

struct ScheduledCall {
  static constexpr std::size_t kNotQueued = std::numeric_limits<std::size_t>::max();

  Date due = 0;
  std::uint64_t seq = 0;
  // Null for the world's own scripted actions.
  Process* owner = nullptr;
  // Greater than zero for a repeating timer.
  double period = 0;
  bool valid = true;
  std::function<void()> callback;

  // Where the call waits; null while it runs or once it is gone.
  CallQueue* queue = nullptr;
  std::size_t heapIndex = kNotQueued;
};
using ScheduledCallPtr = std::shared_ptr<ScheduledCall>;

// A binary min-heap that knows each call's position, so a timer can be
// removed at once when it is invalidated instead of lingering until it would
// have come due (a huge period would otherwise keep it forever).
class CallQueue {
 public:
  CallQueue() = default;
  CallQueue(const CallQueue&) = delete;
  CallQueue& operator=(const CallQueue&) = delete;
  ~CallQueue() { clear(); }

  bool empty() const { return heap_.empty(); }
  std::size_t size() const { return heap_.size(); }
  const ScheduledCall* top() const { return heap_.empty() ? nullptr : heap_.front().get(); }

  void push(ScheduledCallPtr call) {
    call->queue = this;
    call->heapIndex = heap_.size();
    heap_.push_back(std::move(call));
    siftUp(heap_.size() - 1);
  }

  ScheduledCallPtr pop() { return removeAt(0); }

  void remove(ScheduledCall& call) {
    if (call.queue == this) {
      removeAt(call.heapIndex);
    }
  }

  // Drops every call the predicate selects; each is marked invalid.
  template <typename Predicate>
  void removeIf(Predicate predicate) {
    std::vector<ScheduledCallPtr> kept;
    kept.reserve(heap_.size());
    for (ScheduledCallPtr& call : heap_) {
      if (predicate(*call)) {
        call->queue = nullptr;
        call->heapIndex = ScheduledCall::kNotQueued;
        call->valid = false;
        call->owner = nullptr;
      } else {
        kept.push_back(std::move(call));
      }
    }
    heap_.clear();
    for (ScheduledCallPtr& call : kept) {
      push(std::move(call));
    }
  }

  void clear() {
    removeIf([](const ScheduledCall&) { return true; });
  }

  static bool before(const ScheduledCall& a, const ScheduledCall& b) {
    return a.due < b.due || (a.due == b.due && a.seq < b.seq);
  }

 private:
  ScheduledCallPtr removeAt(std::size_t index) {
    ScheduledCallPtr call = std::move(heap_[index]);
    const std::size_t last = heap_.size() - 1;
    if (index != last) {
      place(index, std::move(heap_[last]));
      heap_.pop_back();
      if (index > 0 && before(*heap_[index], *heap_[(index - 1) / 2])) {
        siftUp(index);
      } else {
        siftDown(index);
      }
    } else {
      heap_.pop_back();
    }
    call->queue = nullptr;
    call->heapIndex = ScheduledCall::kNotQueued;
    return call;
  }

  void place(std::size_t index, ScheduledCallPtr call) {
    call->heapIndex = index;
    heap_[index] = std::move(call);
  }

  void siftUp(std::size_t index) {
    ScheduledCallPtr moving = std::move(heap_[index]);
    while (index > 0) {
      const std::size_t parent = (index - 1) / 2;
      if (!before(*moving, *heap_[parent])) {
        break;
      }
      place(index, std::move(heap_[parent]));
      index = parent;
    }
    place(index, std::move(moving));
  }

  void siftDown(std::size_t index) {
    ScheduledCallPtr moving = std::move(heap_[index]);
    const std::size_t count = heap_.size();
    for (;;) {
      std::size_t child = 2 * index + 1;
      if (child >= count) {
        break;
      }
      if (child + 1 < count && before(*heap_[child + 1], *heap_[child])) {
        ++child;
      }
      if (!before(*heap_[child], *moving)) {
        break;
      }
      place(index, std::move(heap_[child]));
      index = child;
    }
    place(index, std::move(moving));
  }

  std::vector<ScheduledCallPtr> heap_;
};

}  // namespace detail
}  // namespace qm::sim
