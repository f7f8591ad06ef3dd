#include "core/mirelthread.h"

#include <cstdio>
#include <system_error>
#include <thread>

namespace vidrune {

MirelThread::MirelThread() : threadState(Stopped) {}

MirelThread::~MirelThread()
{
    StopAndWait();
}

MirelThread::State MirelThread::ThreadState()
{
    MirelLockHolder hold(*this);
    return static_cast<State>(threadState);
}

bool MirelThread::StartThread()
{
    {
        MirelLockHolder hold(*this);
        threadState = Running;
    }
    try {
        std::thread(&MirelThread::ThreadEntry, this).detach();
        return true;
    } catch (const std::system_error &error) {
        // No thread could be made: nothing will ever run, so nothing must be waited for.
        std::fprintf(stderr, "video: cannot start a worker thread: %s\n", error.what());
        MirelLockHolder hold(*this);
        threadState = Stopped;
    }
    return false;
}

void MirelThread::ThreadEntry(MirelThread *object)
{
    {
        MirelLockHolder hold(*object);
        // StopAndWait may already have asked for a stop before this thread was scheduled;
        // that request stands.
        if (object->threadState != StopRequested)
            object->threadState = Running;
    }
    object->Run();
    MirelLockHolder hold(*object);
    object->threadState = Stopped;
    // The object may be freed as soon as the lock is released: nothing touches it after this.
}

bool MirelThread::StopAndWait()
{
    {
        MirelLockHolder hold(*this);
        if (threadState != Running)
            return false;
        threadState = StopRequested;
    }
    for (;;) {
        std::this_thread::sleep_for(PollInterval);
        MirelLockHolder hold(*this);
        if (threadState == Stopped)
            return true;
    }
}

} // namespace vidrune
