#include "engine/waitabletimer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <thread>

namespace zm {

void clsWaitableTimer::Wait(qint32 MilliSeconds)
{
    if (MilliSeconds <= 0) {
        QCoreApplication::processEvents();
        return;
    }
    QDeadlineTimer deadline(MilliSeconds, Qt::PreciseTimer);
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(MilliSeconds);
    m_cancelled = false;
    m_loop = &loop;
    loop.exec();
    m_loop = nullptr;
    if (m_cancelled)
        return;
    // A nested loop returns at once while the application is shutting down; keep the promised
    // pause then, but never longer than asked.
    const qint64 left = deadline.remainingTime();
    if (left > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(left));
}

void clsWaitableTimer::Cancel()
{
    m_cancelled = true;
    if (m_loop)
        m_loop->quit();
}

} // namespace zm
