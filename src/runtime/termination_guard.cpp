#include "runtime/termination_guard.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <new>
#include <cstdint>
#include <cstdlib>
#include <system_error>

namespace trenn {
namespace {

sigset_t TerminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

// An exception nothing caught (running out of memory inside the toolkit, say) would abort the
// program and leave its scratch files behind: it says what happened and has the guard's thread
// end the program as a signal would, tidying up first.
[[noreturn]] void EndAfterUncaughtException() {
    const char* what = "an unexpected error";
    if (const std::exception_ptr error = std::current_exception()) {
        try {
            std::rethrow_exception(error);
        } catch (const std::bad_alloc&) {
            what = "out of memory";
        } catch (...) {
        }
    }
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, what);
    ::kill(::getpid(), SIGTERM);
    // Without the guard's thread nothing takes the signal: end here, untidied.
    ::sleep(5);
    std::_Exit(1);
}

}  // namespace

TerminationGuard::TerminationGuard() {
    std::set_terminate(&EndAfterUncaughtException);
    const sigset_t set = TerminationSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signalFd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    stopFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (signalFd_ < 0 || stopFd_ < 0) return;
    try {
        waiter_ = std::thread([this] { Wait(); });
    } catch (const std::system_error&) {
        // No thread to spare: the program polls TakePending or PendingDescriptor instead.
    }
}

TerminationGuard::~TerminationGuard() {
    if (waiter_.joinable()) {
        const std::uint64_t one = 1;
        if (::write(stopFd_, &one, sizeof one) == sizeof one) waiter_.join();
        else waiter_.detach();
    }
    if (stopFd_ >= 0) ::close(stopFd_);
    if (signalFd_ >= 0) ::close(signalFd_);
}

void TerminationGuard::SetCleanup(std::function<void()> cleanup) {
    std::lock_guard lock(mutex_);
    cleanup_ = std::move(cleanup);
}

int TerminationGuard::TakePending() {
    if (signalFd_ < 0) return 0;
    signalfd_siginfo info{};
    int received = 0;
    while (::read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (received == 0) received = static_cast<int>(info.ssi_signo);
    }
    return received;
}

void TerminationGuard::Wait() {
    pollfd watched[2] = {{signalFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    for (;;) {
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (watched[1].revents != 0) return;
        if (const int signal = TakePending(); signal != 0) Terminate(signal);
    }
}

void TerminationGuard::Terminate(int signal) {
    {
        std::lock_guard lock(mutex_);
        if (cleanup_) cleanup_();
    }
    ::signal(signal, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal);
    // Sent to this thread alone, in which it is now unblocked: the default action ends the
    // whole process.
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    ::raise(signal);
    std::_Exit(128 + signal);  // not reached
}

}  // namespace trenn
