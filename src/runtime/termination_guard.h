#pragma once

#include <functional>
#include <mutex>
#include <thread>

namespace trenn {

// SIGINT, SIGTERM and SIGHUP end the program within moments whatever it is doing (a long load,
// a redraw): a thread of its own waits for them, runs the cleanup (removing the scratch files)
// and lets the program die of the signal, so that its exit status tells which one.
//
// Make it before any other thread starts: the signals are blocked in the thread that makes it
// and so in every thread started from it afterwards. Where no thread can start (an address-
// space limit), the signals stay blocked and the program looks for them itself (TakePending).
class TerminationGuard {
public:
    TerminationGuard();
    ~TerminationGuard();
    TerminationGuard(const TerminationGuard&) = delete;
    TerminationGuard& operator=(const TerminationGuard&) = delete;

    // Run before the program dies of a signal: it must only remove files and the like, never
    // wait for the program's other threads. An empty function clears it.
    void SetCleanup(std::function<void()> cleanup);

    // Whether the thread waits for the signals.
    bool Watching() const { return waiter_.joinable(); }

    // Without the thread: the signal that arrived since the last call, 0 when none.
    int TakePending();

    // A descriptor that becomes readable when a signal arrives, for an event loop to watch
    // when the thread could not start; -1 while the thread watches.
    int PendingDescriptor() const { return Watching() ? -1 : signalFd_; }

    // Runs the cleanup and dies of the signal with its default action.
    [[noreturn]] void Terminate(int signal);

private:
    void Wait();

    std::mutex mutex_;
    std::function<void()> cleanup_;
    int signalFd_ = -1;
    int stopFd_ = -1;
    std::thread waiter_;
};

// Clears the guard's cleanup when it goes, so that the cleanup never outlives what it uses.
class TerminationCleanup {
public:
    TerminationCleanup(TerminationGuard& guard, std::function<void()> cleanup) : guard_(guard) {
        guard_.SetCleanup(std::move(cleanup));
    }
    ~TerminationCleanup() { guard_.SetCleanup({}); }
    TerminationCleanup(const TerminationCleanup&) = delete;
    TerminationCleanup& operator=(const TerminationCleanup&) = delete;

private:
    TerminationGuard& guard_;
};

}  // namespace trenn
