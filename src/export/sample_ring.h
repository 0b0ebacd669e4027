// Single-producer, single-consumer ring of 16-bit samples. The recording input's thread
// writes, the drain reads; neither side locks or allocates after construction.
//
// Threads: write() from one producer thread, read() from one consumer thread.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace zb::capture {

class SampleRing {
public:
    // Capacity is rounded up to a power of two.
    explicit SampleRing(size_t capacity) {
        size_t c = 1;
        while (c < capacity) c <<= 1;
        capacity_ = c;
        mask_ = c - 1;
        data_ = std::make_unique<int16_t[]>(c);
    }

    size_t capacity() const { return capacity_; }

    // Producer. Room for how many samples, as seen now.
    size_t writable() const {
        const size_t head = head_.load(std::memory_order_relaxed);
        const size_t tail = tail_.load(std::memory_order_acquire);
        return capacity_ - (head - tail);
    }

    // Producer. Copies up to count samples; returns how many fitted.
    size_t write(const int16_t* samples, size_t count) {
        const size_t head = head_.load(std::memory_order_relaxed);
        const size_t tail = tail_.load(std::memory_order_acquire);
        const size_t n = std::min(count, capacity_ - (head - tail));
        const size_t first = std::min(n, capacity_ - (head & mask_));
        std::copy(samples, samples + first, data_.get() + (head & mask_));
        std::copy(samples + first, samples + n, data_.get());
        head_.store(head + n, std::memory_order_release);
        return n;
    }

    // Consumer. Moves up to max samples into out; returns how many.
    size_t read(int16_t* out, size_t max) {
        const size_t tail = tail_.load(std::memory_order_relaxed);
        const size_t head = head_.load(std::memory_order_acquire);
        const size_t n = std::min(max, head - tail);
        const size_t first = std::min(n, capacity_ - (tail & mask_));
        std::copy(data_.get() + (tail & mask_), data_.get() + (tail & mask_) + first, out);
        std::copy(data_.get(), data_.get() + (n - first), out + first);
        tail_.store(tail + n, std::memory_order_release);
        return n;
    }

private:
    size_t capacity_ = 0;
    size_t mask_ = 0;
    std::unique_ptr<int16_t[]> data_;
    alignas(64) std::atomic<size_t> head_{0};  // written by the producer
    alignas(64) std::atomic<size_t> tail_{0};  // written by the consumer
};

}  // namespace zb::capture
