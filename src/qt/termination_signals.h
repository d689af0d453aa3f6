#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace trenn {

// SIGINT, SIGTERM and SIGHUP end the program through its event loop, so that it tidies up
// (the scratch file above all) as when the window is closed, and then dies of the signal as it
// would have without any of this. The signals are blocked and read from a descriptor
// (signalfd): no handler runs in the middle of other code, and no state needs to be global.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    // Blocks the signals in this thread and in every thread started from it afterwards: make
    // it before the QApplication, which starts threads of its own.
    TerminationSignals();
    ~TerminationSignals() override;

    // From now on a signal ends every event loop running (QCoreApplication::exit). Needs the
    // application object.
    void QuitOnSignal();

    // The signal that arrived, 0 while none has.
    int Received() const { return received_; }

    // Dies of the signal received, if one has been; returns when none has.
    void DieOfReceived();

private:
    void Read();

    int fd_ = -1;
    int received_ = 0;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace trenn
