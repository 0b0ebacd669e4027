// Single-producer, single-consumer ring of fixed capacity. The producer (UI thread) and
// the consumer (audio thread) never block each other and the consumer never allocates.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

namespace zb::audio {

template <typename T>
class SpscQueue {
public:
    // Capacity is rounded up to a power of two; one slot stays free to tell full from empty.
    explicit SpscQueue(size_t capacity) {
        size_t n = 2;
        while (n < capacity + 1) n <<= 1;
        mask_ = n - 1;
        items_ = std::make_unique<T[]>(n);
    }

    // Producer only. False when the ring is full.
    bool push(const T& item) {
        const size_t head = head_.load(std::memory_order_relaxed);
        const size_t next = (head + 1) & mask_;
        if (next == tail_.load(std::memory_order_acquire))
            return false;
        items_[head] = item;
        head_.store(next, std::memory_order_release);
        return true;
    }

    // Producer only. Free slots left.
    size_t freeSpace() const {
        const size_t head = head_.load(std::memory_order_relaxed);
        const size_t tail = tail_.load(std::memory_order_acquire);
        return mask_ - ((head - tail) & mask_);
    }

    // Consumer only. The oldest item, or null when empty.
    const T* front() const {
        const size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail == head_.load(std::memory_order_acquire))
            return nullptr;
        return &items_[tail];
    }

    // Consumer only. Drops the oldest item; front() must have returned non-null.
    void pop() {
        const size_t tail = tail_.load(std::memory_order_relaxed);
        tail_.store((tail + 1) & mask_, std::memory_order_release);
    }

private:
    std::unique_ptr<T[]> items_;
    size_t mask_ = 0;
    alignas(64) std::atomic<size_t> head_{0};
    alignas(64) std::atomic<size_t> tail_{0};
};

}  // namespace zb::audio
