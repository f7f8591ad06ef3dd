#include "core/progressslot.h"

#include "core/statelocations.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace vidrune {

namespace {

const QString BesideName = QStringLiteral("progress.txt");

const QRegularExpression &OwnFileName()
{
    static const QRegularExpression re(QStringLiteral("^progress-(\\d+)-[A-Za-z0-9]{6}\\.txt$"));
    return re;
}

bool ProcessGone(qint64 pid)
{
    if (pid <= 0 || pid > 0x7fffffff)
        return true;
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

} // namespace

ProgressSlot::ProgressSlot(QString appFolder, bool besideProgram, QString instanceFolder)
    : m_appFolder(std::move(appFolder)), m_besideProgram(besideProgram),
      m_instanceFolder(instanceFolder.isEmpty() ? StateLocations::InstanceFolder()
                                                : std::move(instanceFolder))
{}

ProgressSlot::~ProgressSlot()
{
    Release();
}

void ProgressSlot::Release()
{
    if (m_lockFd >= 0) {
        ::close(m_lockFd); // the lock goes with the descriptor; progress.txt stays
        m_lockFd = -1;
    }
    if (!m_ownFile.isEmpty()) {
        QFile::remove(m_ownFile);
        m_ownFile.clear();
    }
    m_path.clear();
}

QString ProgressSlot::Acquire()
{
    if (!m_path.isEmpty() && (m_lockFd < 0 || StillHeld()))
        return m_path;
    Release();
    if (m_besideProgram && ClaimBesideProgram()) {
        m_path = m_appFolder + QLatin1Char('/') + BesideName;
        return m_path;
    }
    m_ownFile = MakeOwnFile();
    m_path = m_ownFile;
    return m_path;
}

bool ProgressSlot::ClaimBesideProgram()
{
    const QByteArray path = QFile::encodeName(m_appFolder + QLatin1Char('/') + BesideName);
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    // flock belongs to the open file, so a second window in this very process is refused too.
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        return false;
    }
    m_lockFd = fd;
    return true;
}

bool ProgressSlot::StillHeld() const
{
    // progress.txt removed or replaced while we held it: another window could take the new
    // one, so ours is no longer the file of that name.
    struct stat held {
    }, named{};
    const QByteArray path = QFile::encodeName(m_path);
    return ::fstat(m_lockFd, &held) == 0 && ::stat(path.constData(), &named) == 0
           && held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

QString ProgressSlot::MakeOwnFile()
{
    if (!QDir().mkpath(m_instanceFolder))
        return {};
    // The folder holds nothing for other users.
    QFile::setPermissions(m_instanceFolder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    RemoveStale(m_instanceFolder);
    const QByteArray pattern = QFile::encodeName(
        m_instanceFolder + QStringLiteral("/progress-%1-XXXXXX.txt").arg(::getpid()));
    std::vector<char> name(pattern.constData(), pattern.constData() + pattern.size() + 1);
    const int fd = ::mkostemps(name.data(), 4, O_CLOEXEC);
    if (fd < 0)
        return {};
    ::close(fd);
    return QFile::decodeName(name.data());
}

int ProgressSlot::RemoveStale(const QString &instanceFolder)
{
    int removed = 0;
    const QDir dir(instanceFolder);
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        const QRegularExpressionMatch m = OwnFileName().match(name);
        if (m.hasMatch() && ProcessGone(m.captured(1).toLongLong())
            && QFile::remove(dir.filePath(name)))
            ++removed;
    }
    return removed;
}

} // namespace vidrune
