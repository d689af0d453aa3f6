#pragma once

// Two threads on one picture. The picture is a sequence of layers, each drawn in one colour;
// the threads split each layer between them, and a barrier between layers keeps every pixel of
// a later layer over the earlier ones.

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>

namespace trenn {

// The picture is a sequence of layers: the dots of the first checked part, its edges, the dots
// of the next part, and so on. Within a layer every pixel drawn gets the same colour, so the
// threads may split a layer any way they like and write in any order; a barrier between layers
// keeps every pixel of a later layer over the earlier ones. The result is the one-thread
// picture exactly.
class SpinBarrier {
public:
    explicit SpinBarrier(int members) : members_(members) {}
    void Wait() {
        if (members_ == 1) return;
        const std::uint32_t round = round_.load(std::memory_order_relaxed);
        if (arrived_.fetch_add(1, std::memory_order_acq_rel) + 1 == members_) {
            arrived_.store(0, std::memory_order_relaxed);
            round_.store(round + 1, std::memory_order_release);
            return;
        }
        for (int spins = 0; round_.load(std::memory_order_acquire) == round; ++spins) {
            // The other thread is normally a few microseconds away; if it lost its core, give
            // ours up instead of burning it.
            if (spins < 20000) {
#if defined(__x86_64__) || defined(__i386__)
                __builtin_ia32_pause();
#endif
            } else {
                std::this_thread::yield();
            }
        }
    }

private:
    const int members_;
    std::atomic<int> arrived_{0};
    std::atomic<std::uint32_t> round_{0};
};

// A second drawing thread, started on first use and kept for later redraws.
class DrawHelper {
public:
    using Job = void (*)(void* context, int member);

    ~DrawHelper() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable()) thread_.join();
    }

    // Starts the thread unless it runs; false when the system will not start one.
    bool Start() {
        if (thread_.joinable()) return true;
        try {
            thread_ = std::thread([this] { Serve(); });
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }

    // Runs job(context, 1) on the helper and job(context, 0) here; returns when both are done.
    void RunBoth(Job job, void* context) {
        {
            std::lock_guard lock(mutex_);
            job_ = job;
            context_ = context;
            done_ = false;
        }
        wake_.notify_one();
        job(context, 0);
        std::unique_lock lock(mutex_);
        finished_.wait(lock, [this] { return done_; });
    }

private:
    void Serve() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return quit_ || job_ != nullptr; });
            if (quit_) return;
            const Job job = job_;
            void* const context = context_;
            job_ = nullptr;
            lock.unlock();
            job(context, 1);
            lock.lock();
            done_ = true;
            finished_.notify_one();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_, finished_;
    Job job_ = nullptr;
    void* context_ = nullptr;
    bool done_ = true;
    bool quit_ = false;
    std::thread thread_;
};

// A layer's items handed out a chunk at a time: the first thread takes chunks from the front,
// the second from the back, until they meet. A thread slowed by its core (or by a heavier
// share) then holds the other up by one chunk at most, and each thread still draws one run of
// neighbouring items: interleaved chunks would have both threads storing into the same cache
// lines of the picture.
class LayerChunks {
public:
    // Calls draw(first, last) for chunks of [0, count) until none is left.
    template <typename Draw>
    void Take(std::size_t count, std::size_t chunk, int member, int members, Draw&& draw) {
        if (members == 1) {
            if (count > 0) draw(std::size_t{0}, count);
            return;
        }
        const std::uint64_t chunks = (count + chunk - 1) / chunk;
        for (;;) {
            // Chunks taken: from the front in the low half, from the back in the high half.
            std::uint64_t taken = taken_.load(std::memory_order_relaxed);
            std::uint64_t index;
            do {
                const std::uint64_t front = taken & 0xFFFFFFFFu, back = taken >> 32;
                if (front + back >= chunks) return;
                index = member == 0 ? front : chunks - 1 - back;
            } while (!taken_.compare_exchange_weak(
                taken, taken + (member == 0 ? 1 : std::uint64_t{1} << 32), std::memory_order_relaxed));
            draw(index * chunk, std::min<std::size_t>(count, (index + 1) * chunk));
        }
    }

    void Reset() { taken_.store(0, std::memory_order_relaxed); }

private:
    std::atomic<std::uint64_t> taken_{0};
};

}  // namespace trenn
