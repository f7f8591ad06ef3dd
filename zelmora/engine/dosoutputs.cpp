#include "engine/dosoutputs.h"

#include "engine/childprocess.h"
#include "engine/seams.h"
#include "engine/waitabletimer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSocketNotifier>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace zm {

namespace {
constexpr int kChunk = 1024;
} // namespace

DOSOutputs::DOSOutputs(MessageBoxes *boxes, QObject *parent) : QObject(parent), m_boxes(boxes)
{
    if (QCoreApplication::instance())
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &DOSOutputs::abandon);
    m_killTimer.setSingleShot(true);
    m_killTimer.setTimerType(Qt::PreciseTimer); // never before the grace time is over
    connect(&m_killTimer, &QTimer::timeout, this, &DOSOutputs::killNow);
}

DOSOutputs::~DOSOutputs()
{
    handOff();
}

void DOSOutputs::handOff()
{
    if (m_pid <= 0)
        return;
    m_killTimer.stop();
    reapInBackground(m_pid, m_terminating ? std::max<qint64>(m_killDeadline.remainingTime(), 0) : -1);
    m_pid = -1;
}

void DOSOutputs::terminate(int killAfterMs)
{
    // Only a child that has not been reaped yet is signalled: until then its id cannot have
    // been given to another process.
    if (!m_running || m_pid <= 0 || m_terminating)
        return;
    m_terminating = true;
    ::kill(m_pid, SIGTERM);
    m_killDeadline.setRemainingTime(killAfterMs);
    m_killTimer.start(std::max(killAfterMs, 0));
}

void DOSOutputs::killNow()
{
    if (m_pid > 0)
        ::kill(m_pid, SIGKILL);
}

void DOSOutputs::fail(const QString &text)
{
    if (m_boxes)
        m_boxes->show(MsgIcon::Error, QString::fromLatin1(kAppTitle), text);
}

bool DOSOutputs::reap(bool block)
{
    if (!reapChild(m_pid, block, m_ending))
        return false;
    m_pid = -1;
    return true;
}

void DOSOutputs::pause(clsWaitableTimer &timer, int readFd)
{
    // Once every writer has closed the pipe, what is left in it is read without pausing;
    // otherwise the 50 ms wait runs, ended early only by that hang-up.
    if (pipeWritersGone(readFd))
        return;
    QSocketNotifier hangup(readFd, QSocketNotifier::Read);
    connect(&hangup, &QSocketNotifier::activated, this, [&] {
        if (pipeWritersGone(readFd))
            timer.Cancel();
        else
            hangup.setEnabled(false); // plain data waits for the next pass
    });
    timer.Wait(50);
}

bool DOSOutputs::childStillStarting() const
{
    // Right after the start the child may not carry the converter's name yet: until its exec
    // has finished it is still named like this program.
    if (m_pid <= 0)
        return false;
    const QString name = processName(QString::number(m_pid));
    return !name.isEmpty() && name == processName(QStringLiteral("self"));
}

bool DOSOutputs::IsProcessRunning(const QString &name)
{
    const QString wanted = name.toLower();
    bool found = false;
    const QDir proc(QStringLiteral("/proc"));
    const QStringList entries = proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        if (entry.isEmpty() || !entry.at(0).isDigit())
            continue;
        QFile stat(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (comm) S ...": comm may itself hold blanks and parentheses.
        const QByteArray line = stat.read(512);
        const qsizetype open = line.indexOf('(');
        const qsizetype close = line.lastIndexOf(')');
        if (open < 0 || close < open || close + 2 >= line.size())
            continue;
        const char state = line.at(close + 2);
        if (state == 'Z' || state == 'X')
            continue; // a finished process that nobody has reaped yet does not run
        if (QString::fromUtf8(line.mid(open + 1, close - open - 1)).toLower() == wanted)
            found = true;
    }
    return found;
}

QString DOSOutputs::ExecuteCommand(const QString &argument)
{
    if (!argument.isEmpty())
        m_commandLine = argument;
    if (m_commandLine.isEmpty()) {
        fail(QStringLiteral("Command Line empty"));
        return QString();
    }
    handOff(); // a child of an earlier, abandoned command

    SpawnedChild child;
    QString error;
    if (!spawnWithPipe(QProcess::splitCommand(m_commandLine), child, error)) {
        fail(error);
        return QString();
    }
    const int readFd = child.readFd;
    m_pid = child.pid;
    m_ending = Ending{};
    m_ending.started = true;
    m_outputs.clear();
    m_running = true;
    m_abandon = false;
    m_terminating = false;
    m_killTimer.stop();

    QStringDecoder decoder(QStringDecoder::Utf8);
    char buffer[kChunk];
    clsWaitableTimer timer;
    bool polling = true;
    while (polling && !m_abandon) {
        reap(false);
        if (pipeReadable(readFd)) {
            ssize_t n;
            do {
                n = ::read(readFd, buffer, kChunk);
            } while (n < 0 && errno == EINTR);
            if (n <= 0) {
                polling = false;
                const QString tail = decoder.decode(QByteArrayView()); // flush a cut character
                if (!tail.isEmpty()) {
                    m_outputs += tail;
                    emit ReceiveOutputs(tail);
                }
            } else {
                const QString text = decoder.decode(QByteArrayView(buffer, n));
                if (!text.isEmpty()) {
                    m_outputs += text;
                    emit ReceiveOutputs(text);
                }
            }
        } else if (!IsProcessRunning(m_watchedName) && !childStillStarting()) {
            // The converter may have written its last words and ended between the two looks;
            // what it left in the pipe is still read before the command counts as over.
            if (!pipeReadable(readFd))
                polling = false;
        }
        QCoreApplication::processEvents();
        if (polling && !m_abandon)
            pause(timer, readFd);
    }
    ::close(readFd);

    if (m_abandon) {
        m_running = false;
        handOff();
        return m_outputs;
    }

    // The pipe has ended; the child normally exits at the same moment. Give it a short while,
    // then leave it to a background reaper so the window never hangs on it.
    for (int i = 0; i < 50 && !reap(false); ++i)
        timer.Wait(10);
    handOff();
    m_killTimer.stop();
    m_running = false;
    emit CommandOver();
    return m_outputs;
}

} // namespace zm
