#include "qt/termination_signals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdlib>

namespace trenn {
namespace {

sigset_t TerminationSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

TerminationSignals::TerminationSignals() {
    const sigset_t set = TerminationSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

TerminationSignals::~TerminationSignals() {
    notifier_.reset();
    if (fd_ >= 0) ::close(fd_);
}

void TerminationSignals::QuitOnSignal() {
    if (fd_ < 0 || notifier_) return;
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &TerminationSignals::Read);
}

void TerminationSignals::Read() {
    signalfd_siginfo info{};
    while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (received_ == 0) received_ = static_cast<int>(info.ssi_signo);
    }
    if (received_ != 0) QCoreApplication::exit(128 + received_);
}

void TerminationSignals::DieOfReceived() {
    if (received_ == 0) return;
    ::signal(received_, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, received_);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    ::raise(received_);
    std::_Exit(128 + received_);  // not reached: the default action ends the process
}

}  // namespace trenn
