#pragma once

#include <cstddef>
#include <iterator>
#include <map>
#include <optional>

namespace trenn {

// Where blocks may go in one region of bulk memory, by offset: the ranges freed so far, each
// merged with the freed ranges beside it, and the untouched end of the region. Bookkeeping
// only: it never touches memory.
class RegionSpace {
public:
    explicit RegionSpace(std::size_t size) : size_(size) {}

    // A place for `bytes`: the first freed range large enough, else the untouched end; nothing
    // when neither has the room.
    std::optional<std::size_t> Take(std::size_t bytes) {
        for (auto it = freed_.begin(); it != freed_.end(); ++it) {
            if (it->second < bytes) continue;
            const std::size_t offset = it->first;
            const std::size_t rest = it->second - bytes;
            freed_.erase(it);
            // What is left of the range lies after the block taken.
            if (rest > 0) freed_.emplace(offset + bytes, rest);
            return offset;
        }
        if (size_ - untouched_ < bytes) return std::nullopt;
        const std::size_t offset = untouched_;
        untouched_ += bytes;
        return offset;
    }

    // Gives the block at `offset` back.
    void Give(std::size_t offset, std::size_t bytes) {
        auto next = freed_.lower_bound(offset);
        if (next != freed_.begin()) {
            const auto previous = std::prev(next);
            if (previous->first + previous->second == offset) {
                offset = previous->first;
                bytes += previous->second;
                freed_.erase(previous);
            }
        }
        if (next != freed_.end() && offset + bytes == next->first) {
            bytes += next->second;
            freed_.erase(next);
        }
        if (offset + bytes == untouched_) {
            untouched_ = offset;  // the range joins the untouched end
        } else {
            freed_.emplace(offset, bytes);
        }
    }

    // Where the untouched end starts, and the freed ranges (offset, length) before it.
    std::size_t UntouchedFrom() const { return untouched_; }
    const std::map<std::size_t, std::size_t>& Freed() const { return freed_; }

private:
    std::size_t size_;
    std::size_t untouched_ = 0;
    std::map<std::size_t, std::size_t> freed_;
};

}  // namespace trenn
