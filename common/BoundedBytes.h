// SPDX-License-Identifier: GPL-3.0-or-later
// Bytes waiting to go on, at most a fixed amount: past it the oldest give way
// to the newest and are counted, so a side that nobody reads never makes the
// writer wait and memory stays flat. Not locked: its owner locks.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vantrel {

class BoundedBytes {
public:
    explicit BoundedBytes(std::size_t limit) : ring_(limit) {}

    // Adds `bytes` after the ones held; how many older bytes were dropped for them.
    std::size_t Push(std::span<const std::uint8_t> bytes) {
        const std::size_t limit = ring_.size();
        std::size_t dropped = 0;
        if (bytes.size() > limit) {  // only the newest `limit` of them can stay
            dropped = bytes.size() - limit;
            bytes = bytes.last(limit);
        }
        const std::size_t over = size_ + bytes.size() > limit ? size_ + bytes.size() - limit : 0;
        Pop(over);
        dropped += over;
        for (std::size_t done = 0; done < bytes.size();) {
            const std::size_t at = (head_ + size_) % limit;
            const std::size_t n = std::min(bytes.size() - done, limit - at);
            std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(done), n, ring_.begin() + static_cast<std::ptrdiff_t>(at));
            size_ += n;
            done += n;
        }
        return dropped;
    }
    // The oldest bytes held, as one run (the rest follow after a Pop).
    std::span<const std::uint8_t> Front() const {
        return {ring_.data() + head_, std::min(size_, ring_.size() - head_)};
    }
    void Pop(std::size_t n) {
        n = std::min(n, size_);
        head_ = size_ == n ? 0 : (head_ + n) % ring_.size();
        size_ -= n;
    }
    std::size_t Size() const { return size_; }
    bool Empty() const { return size_ == 0; }

private:
    std::vector<std::uint8_t> ring_;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};

}  // namespace vantrel
