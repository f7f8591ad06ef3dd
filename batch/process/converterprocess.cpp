#include "process/converterprocess.h"

#include "process/childspawn.h"
#include "process/reaper.h"

#include <QFile>
#include <QPointer>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include "process/pidfd.h"
#include <sys/wait.h>
#include <unistd.h>

namespace batch {

namespace {
// How much of the text is kept for the last line when the whole is not.
constexpr qsizetype kTail = 8192;

// The end of a file from `from` on (at most kTail bytes), as text.
QString fileTail(const QString &path, qint64 from)
{
    QFile f(path);
    if (from < 0 || !f.open(QIODevice::ReadOnly))
        return QString();
    const qint64 size = f.size();
    if (size <= from)
        return QString();
    f.seek(std::max(from, size - kTail));
    return QString::fromUtf8(f.readAll());
}
} // namespace

ConverterProcess::ConverterProcess(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<batch::ProcessOutcome>();
    m_killTimer.setSingleShot(true);
    m_killTimer.setTimerType(Qt::PreciseTimer); // never before the grace time is over
    connect(&m_killTimer, &QTimer::timeout, this, &ConverterProcess::killNow);
}

ConverterProcess::~ConverterProcess()
{
    detach();
}

bool ConverterProcess::start(const ProcessRequest &request)
{
    if (isRunning())
        return false;
    m_spec = request;
    m_outcome = ProcessOutcome{};
    m_outputs.clear();
    m_decoder = QStringDecoder(QStringDecoder::Utf8);
    m_reaped = false;
    m_killSent = false;
    m_killTimer.stop();

    const SpawnedChild child = spawnChild(request);
    if (!child.started()) {
        m_pid = -1;
        m_outcome.ending = ProcessOutcome::Ending::FailedToStart;
        m_outcome.startError = child.error;
        m_outcome.pipeFailed = child.pipeFailed;
        return false;
    }
    m_pid = child.pid;
    m_pidfd = child.pidfd;
    m_readFd = child.readFd;
    m_stderrFileStart = child.stderrFileStart;
    m_pidNotifier = std::make_unique<QSocketNotifier>(m_pidfd, QSocketNotifier::Read);
    connect(m_pidNotifier.get(), &QSocketNotifier::activated, this, &ConverterProcess::childEnded);
    if (m_readFd >= 0) {
        m_readNotifier = std::make_unique<QSocketNotifier>(m_readFd, QSocketNotifier::Read);
        connect(m_readNotifier.get(), &QSocketNotifier::activated, this, &ConverterProcess::readOnce);
    }
    return true;
}

void ConverterProcess::deliver(const QByteArray &bytes, bool last)
{
    const QString text = m_decoder.decode(last ? QByteArrayView() : QByteArrayView(bytes));
    if (text.isEmpty())
        return;
    m_outputs += text;
    if (!m_spec.keepOutput && m_outputs.size() > 2 * kTail)
        m_outputs.remove(0, m_outputs.size() - kTail);
    emit output(text);
}

void ConverterProcess::readOnce()
{
    if (m_readFd < 0)
        return;
    char buffer[kChunk];
    ssize_t n;
    do {
        n = ::read(m_readFd, buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && errno == EAGAIN)
        return;
    QPointer<ConverterProcess> self(this);
    if (n > 0) {
        deliver(QByteArray::fromRawData(buffer, n), false);
        return;
    }
    // Every writer has closed it: the child normally ends at the same moment.
    closePipe();
    deliver(QByteArray(), true);
    if (self && m_reaped)
        finish();
}

bool ConverterProcess::drain()
{
    QPointer<ConverterProcess> self(this);
    char buffer[kChunk];
    while (m_readFd >= 0) {
        const ssize_t n = ::read(m_readFd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // ended, or empty while something else still holds it open
        deliver(QByteArray::fromRawData(buffer, n), false);
        if (!self)
            return false;
    }
    closePipe();
    deliver(QByteArray(), true);
    return bool(self);
}

void ConverterProcess::childEnded()
{
    if (m_pidfd < 0 || m_reaped)
        return;
    siginfo_t info{};
    int rc;
    do {
        rc = ::waitid(P_PIDFD, id_t(m_pidfd), &info, WEXITED | WNOHANG);
    } while (rc < 0 && errno == EINTR);
    if (rc == 0 && info.si_pid == 0)
        return; // not yet
    m_reaped = true;
    m_killTimer.stop();
    m_pidNotifier->setEnabled(false);
    if (rc == 0 && info.si_code == CLD_EXITED) {
        m_outcome.ending = ProcessOutcome::Ending::Exited;
        m_outcome.exitCode = info.si_status;
    } else if (rc == 0) {
        m_outcome.ending = ProcessOutcome::Ending::Signalled;
        m_outcome.signal = info.si_status;
        m_outcome.killedAfterGrace = m_killSent && info.si_status == SIGKILL;
    } else {
        // Reaped by somebody else: how it ended is not known.
        m_outcome.ending = ProcessOutcome::Ending::Exited;
        m_outcome.exitCode = -1;
    }
    // What the child wrote before it ended is in the pipe already.
    if (drain())
        finish();
}

void ConverterProcess::closePipe()
{
    if (m_readFd < 0)
        return;
    m_readNotifier.reset();
    ::close(m_readFd);
    m_readFd = -1;
}

void ConverterProcess::finish()
{
    if (!m_reaped || m_readFd >= 0 || m_pidfd < 0)
        return;
    m_pidNotifier.reset();
    ::close(m_pidfd);
    m_pidfd = -1;
    m_outcome.lastLine = lastLineOf(m_spec.stderrTo == Stream::File && m_stderrFileStart >= 0
                                        ? fileTail(m_spec.stderrFile, m_stderrFileStart)
                                        : m_outputs.right(kTail));
    emit finished(m_outcome);
}

void ConverterProcess::stop(int graceMs)
{
    if (!isRunning() || m_reaped || m_outcome.stopRequested)
        return;
    m_outcome.stopRequested = true;
    pidfdSignal(m_pidfd, SIGTERM);
    m_killAt.setRemainingTime(std::max(graceMs, 0), Qt::PreciseTimer);
    m_killTimer.start(std::max(graceMs, 0));
}

void ConverterProcess::kill()
{
    if (isRunning() && !m_reaped)
        pidfdSignal(m_pidfd, SIGKILL);
}

void ConverterProcess::killNow()
{
    if (!isRunning() || m_reaped)
        return;
    m_killSent = true;
    pidfdSignal(m_pidfd, SIGKILL);
}

void ConverterProcess::detach()
{
    m_killTimer.stop();
    closePipe();
    if (m_pidfd < 0)
        return;
    m_pidNotifier.reset();
    if (m_reaped) {
        ::close(m_pidfd);
    } else {
        const qint64 killIn =
            m_outcome.stopRequested ? (m_killSent ? 0 : std::max<qint64>(m_killAt.remainingTime(), 0)) : -1;
        Reaper::instance().adopt(m_pidfd, m_pid, killIn);
    }
    m_pidfd = -1;
}

} // namespace batch
