#include "engine/converterjob.h"

#include <QProcess>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace zm {

namespace {
constexpr int kChunk = 1024;
constexpr int kWatchMs = 50;    // how often the child is looked at while the pipe is open
constexpr int kReapPollMs = 10; // after the pipe's end, until the child has been reaped
constexpr int kReapTries = 50;  // then it is left to a background reaper
} // namespace

ConverterJob::ConverterJob(QObject *parent) : QObject(parent)
{
    m_watch.setInterval(kWatchMs);
    connect(&m_watch, &QTimer::timeout, this, &ConverterJob::watchChild);
    m_killTimer.setSingleShot(true);
    m_killTimer.setTimerType(Qt::PreciseTimer); // never before the grace time is over
    connect(&m_killTimer, &QTimer::timeout, this, &ConverterJob::killNow);
}

ConverterJob::~ConverterJob()
{
    m_notifier.reset();
    if (m_readFd >= 0)
        ::close(m_readFd);
    if (m_pid > 0 && !m_reaped)
        reapInBackground(m_pid, m_terminating ? std::max<qint64>(m_killDeadline.remainingTime(), 0) : -1);
}

bool ConverterJob::start(const QString &commandLine)
{
    if (m_running || m_pid > 0)
        return false;
    m_commandLine = commandLine;
    SpawnedChild child;
    if (!spawnWithPipe(QProcess::splitCommand(commandLine), child, m_startError))
        return false;
    m_pid = child.pid;
    m_readFd = child.readFd;
    m_ending = ProcessEnding{};
    m_ending.started = true;
    m_running = true;
    m_notifier = std::make_unique<QSocketNotifier>(m_readFd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &ConverterJob::readChunk);
    m_watch.start();
    return true;
}

void ConverterJob::readChunk()
{
    if (m_readFd < 0)
        return;
    char buffer[kChunk];
    ssize_t n;
    do {
        n = ::read(m_readFd, buffer, kChunk);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && errno == EAGAIN)
        return;
    const QString text = n > 0 ? m_decoder.decode(QByteArrayView(buffer, n)) : m_decoder.decode(QByteArrayView());
    if (!text.isEmpty()) {
        m_outputs += text;
        emit output(text);
    }
    if (n <= 0) {
        // Every writer has gone: the child normally ends at the same moment.
        closePipe();
        m_reapTries = 0;
        m_watch.start(kReapPollMs);
        maybeFinish();
    }
}

void ConverterJob::watchChild()
{
    if (!m_reaped && reapChild(m_pid, false, m_ending)) {
        m_reaped = true;
        m_killTimer.stop();
    }
    if (m_readFd >= 0) {
        // A child that has gone while something of its own keeps the pipe open: what waits
        // in the pipe is still read, then the run is over.
        if (m_reaped && !pipeReadable(m_readFd))
            closePipe();
    } else if (!m_reaped && ++m_reapTries >= kReapTries) {
        // The pipe has ended but the child lingers: it is left to a background reaper, and
        // its end stays unknown.
        reapInBackground(m_pid, m_terminating ? std::max<qint64>(m_killDeadline.remainingTime(), 0) : -1);
        m_reaped = true;
        m_killTimer.stop();
    }
    maybeFinish();
}

void ConverterJob::closePipe()
{
    if (m_readFd < 0)
        return;
    m_notifier.reset();
    ::close(m_readFd);
    m_readFd = -1;
}

void ConverterJob::maybeFinish()
{
    if (!m_running || m_readFd >= 0 || !m_reaped)
        return;
    m_watch.stop();
    m_killTimer.stop();
    m_running = false;
    m_pid = -1;
    emit finished();
}

void ConverterJob::terminate(int killAfterMs)
{
    // Only a child that has not been reaped yet is signalled: until then its id cannot have
    // been given to another process.
    if (!m_running || m_pid <= 0 || m_reaped || m_terminating)
        return;
    m_terminating = true;
    ::kill(m_pid, SIGTERM);
    m_killDeadline.setRemainingTime(killAfterMs);
    m_killTimer.start(std::max(killAfterMs, 0));
}

void ConverterJob::killNow()
{
    if (m_running && m_pid > 0 && !m_reaped)
        ::kill(m_pid, SIGKILL);
}

} // namespace zm
