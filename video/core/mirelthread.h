#pragma once

#include "core/mirellock.h"

#include <chrono>
#include <cstdint>

namespace vidrune {

// One-shot worker thread base. The concrete class calls StartThread() as the last step of its
// own constructor; the thread runs Run() exactly once. Completion is observed only through the
// thread state, which StopAndWait() polls every 100 ms.
//
// The destructor is not virtual: the owner destroys the concrete object through its own type
// (it is protected, so nothing can destroy one through the base).
// A concrete class whose Run() blocks must make it return before or while StopAndWait() polls.
class MirelThread : public MirelLock
{
public:
    enum State : std::int32_t { Running = 0, StopRequested = 1, Stopped = 2 };

    MirelThread();

    // Asks a running thread to stop and waits until it has. Returns true when it had to wait,
    // false when the thread was not running.
    bool StopAndWait();

    State ThreadState();

    // Polling interval of StopAndWait().
    static constexpr std::chrono::milliseconds PollInterval{100};

protected:
    ~MirelThread();

    // Starts the worker thread (fire and forget: no handle is kept). The state becomes Running
    // before the thread exists, so an object whose thread has not been scheduled yet still
    // counts as running and is never freed under it. False when no thread could be made
    // (then Run() never runs and the state stays Stopped).
    bool StartThread();

    virtual void Run() = 0;

private:
    static void ThreadEntry(MirelThread *object);

    std::int32_t threadState;
};

} // namespace vidrune
