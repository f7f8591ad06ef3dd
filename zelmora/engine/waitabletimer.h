#pragma once
#include <QtGlobal>

namespace zm {

// Waits a number of milliseconds while the event loop keeps running, so the window stays
// responsive. Returns after about the requested time, never much later.
class clsWaitableTimer final {
public:
    clsWaitableTimer() = default;
    Q_DISABLE_COPY_MOVE(clsWaitableTimer)
    void Wait(qint32 MilliSeconds);
};

} // namespace zm
