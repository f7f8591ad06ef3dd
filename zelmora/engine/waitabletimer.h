#pragma once
#include <QtGlobal>

QT_BEGIN_NAMESPACE
class QEventLoop;
QT_END_NAMESPACE

namespace zm {

// Waits a number of milliseconds while the event loop keeps running, so the window stays
// responsive. Returns after about the requested time, never much later.
class clsWaitableTimer final
{
public:
    clsWaitableTimer() = default;
    Q_DISABLE_COPY_MOVE(clsWaitableTimer)
    void Wait(qint32 MilliSeconds);
    // Ends a running Wait early (called from an event handler during the wait).
    void Cancel();

private:
    QEventLoop *m_loop = nullptr;
    bool m_cancelled = false;
};

} // namespace zm
