#include "qt/termination_watch.h"

#include <QFontMetrics>
#include <QSemaphore>
#include <QWidget>
#include <QSocketNotifier>
#include <QThreadPool>

#include "runtime/termination_guard.h"

namespace trenn {

TerminationWatch::TerminationWatch(TerminationGuard& guard) : guard_(guard) {
    const int fd = guard_.PendingDescriptor();
    if (fd < 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        if (const int signal = guard_.TakePending(); signal != 0) guard_.Terminate(signal);
    });
    // A signal that came while nothing watched (during the start-up load) is taken now.
    if (const int signal = guard_.TakePending(); signal != 0) guard_.Terminate(signal);
}

TerminationWatch::~TerminationWatch() = default;

void LoadTheFont(const QWidget& widget) {
    // Laying out a line of text makes the font library open and measure the font.
    QFontMetrics(widget.font()).boundingRect(QStringLiteral("Trenn: 0123456789 abcdefghij"));
}

bool StartPaintThreads() {
    QThreadPool* const pool = QThreadPool::globalInstance();
    pool->setStackSize(1u << 20);
    pool->setExpiryTimeout(-1);
    const int count = pool->maxThreadCount();
    // Each job holds its thread until all have started, so that every thread is made. Shared,
    // since a thread that starts late may still run its job after this returns.
    const auto started = std::make_shared<QSemaphore>(0);
    const auto go = std::make_shared<QSemaphore>(0);
    for (int i = 0; i < count; ++i) {
        pool->start([started, go] {
            started->release();
            go->acquire();
        });
    }
    const bool all = started->tryAcquire(count, 3000);
    go->release(count);
    return all;
}

}  // namespace trenn
