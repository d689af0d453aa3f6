#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;
class QWidget;

namespace trenn {

class TerminationGuard;

// Where the termination guard could start no thread of its own, the event loop watches for the
// signals instead; they then end the program between two events.
class TerminationWatch : public QObject {
    Q_OBJECT

public:
    explicit TerminationWatch(TerminationGuard& guard);
    ~TerminationWatch() override;

private:
    TerminationGuard& guard_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

// Qt fills large areas on the threads of its global pool and waits for them; a pool thread that
// could not start would keep it waiting for ever. So the pool's threads are started here, once,
// with small stacks, and never end: no fill ever needs a new thread. False when they could not
// all be started (a tight address-space limit).
bool StartPaintThreads();

// The font library runs out of memory badly (it crashes): the widget's font is loaded while
// memory is plenty, before a model takes its share.
void LoadTheFont(const QWidget& widget);

}  // namespace trenn
