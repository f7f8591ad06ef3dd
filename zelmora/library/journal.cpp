#include "library/journal.h"

#include "engine/albums.h"
#include "shared/statelocations.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zm {

namespace {

// Holds an exclusive flock on a file for as long as it lives.
class FileLock final
{
public:
    explicit FileLock(const QString &path)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd >= 0) {
            while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FileLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;
    bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

QString kindName(JournalRecord::Kind k)
{
    switch (k) {
    case JournalRecord::Kind::Begun:
        return QStringLiteral("begun");
    case JournalRecord::Kind::Done:
        return QStringLiteral("done");
    case JournalRecord::Kind::Failed:
        return QStringLiteral("failed");
    }
    return {};
}

QByteArray encode(const JournalRecord &r)
{
    QJsonObject o{{QStringLiteral("k"), kindName(r.kind)},
                  {QStringLiteral("o"), r.output},
                  {QStringLiteral("i"), r.input},
                  {QStringLiteral("h"), r.settings},
                  {QStringLiteral("is"), r.inputStamp.size},
                  {QStringLiteral("im"), r.inputStamp.mtimeMs},
                  {QStringLiteral("os"), r.outputStamp.size},
                  {QStringLiteral("om"), r.outputStamp.mtimeMs}};
    if (!r.reason.isEmpty())
        o.insert(QStringLiteral("r"), r.reason);
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<JournalRecord> decode(const QByteArray &line)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    JournalRecord r;
    const QString k = o.value(QStringLiteral("k")).toString();
    if (k == QLatin1String("begun"))
        r.kind = JournalRecord::Kind::Begun;
    else if (k == QLatin1String("done"))
        r.kind = JournalRecord::Kind::Done;
    else if (k == QLatin1String("failed"))
        r.kind = JournalRecord::Kind::Failed;
    else
        return std::nullopt;
    r.output = o.value(QStringLiteral("o")).toString();
    if (r.output.isEmpty())
        return std::nullopt;
    r.input = o.value(QStringLiteral("i")).toString();
    r.settings = o.value(QStringLiteral("h")).toString();
    r.inputStamp = {qint64(o.value(QStringLiteral("is")).toDouble(-1)),
                    qint64(o.value(QStringLiteral("im")).toDouble(-1))};
    r.outputStamp = {qint64(o.value(QStringLiteral("os")).toDouble(-1)),
                     qint64(o.value(QStringLiteral("om")).toDouble(-1))};
    r.reason = o.value(QStringLiteral("r")).toString();
    return r;
}

bool writeAll(int fd, const QByteArray &data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

} // namespace

FileStamp FileStamp::of(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    return {qint64(st.st_size), qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000};
}

QString OutputJournal::defaultStateFolder()
{
    return batch::stateHome() + QStringLiteral("/zelmora");
}

OutputJournal::OutputJournal(const QString &outputRoot, const QString &stateFolder)
    : m_root(QDir::cleanPath(QDir::current().absoluteFilePath(outputRoot)))
{
    const QByteArray id = QCryptographicHash::hash(m_root.toUtf8(), QCryptographicHash::Sha256).toHex().left(24);
    const QString folder = stateFolder + QStringLiteral("/journals/");
    m_path = folder + QString::fromLatin1(id) + QStringLiteral(".jsonl");
    m_lockPath = folder + QString::fromLatin1(id) + QStringLiteral(".lock");
}

QString OutputJournal::measurementPath(const QString &outputPath) const
{
    QString folder = m_path;
    folder.chop(int(QStringLiteral(".jsonl").size()));
    return folder + QStringLiteral(".loudness/") + measurementFileName(key(outputPath));
}

QString OutputJournal::key(const QString &outputPath) const
{
    QString clean = QDir::cleanPath(QDir(m_root).absoluteFilePath(outputPath));
    if (clean.startsWith(m_root + QLatin1Char('/')))
        return clean.mid(m_root.size() + 1);
    return clean;
}

void OutputJournal::load()
{
    m_last.clear();
    m_lines = 0;
    QFile f(m_path);
    if (!f.open(QIODevice::ReadOnly))
        return;
    const QByteArray all = f.readAll();
    for (const QByteArray &line : all.split('\n')) {
        if (line.isEmpty())
            continue;
        ++m_lines;
        if (const auto r = decode(line))
            m_last.insert(r->output, *r);
    }
    if (m_lines > 4 * m_last.size() + 256)
        compact();
}

void OutputJournal::compact()
{
    const FileLock lock(m_lockPath);
    if (!lock.held())
        return;
    // Read again under the lock: another process may have appended since.
    QFile f(m_path);
    if (!f.open(QIODevice::ReadOnly))
        return;
    QHash<QString, JournalRecord> last;
    QStringList order;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (const auto r = decode(line)) {
            if (!last.contains(r->output))
                order << r->output;
            last.insert(r->output, *r);
        }
    }
    f.close();
    QSaveFile out(m_path);
    if (!out.open(QIODevice::WriteOnly))
        return;
    for (const QString &o : order)
        out.write(encode(last.value(o)));
    if (out.commit()) {
        m_last = last;
        m_lines = order.size();
    }
}

std::optional<JournalRecord> OutputJournal::last(const QString &outputPath) const
{
    const auto it = m_last.constFind(key(outputPath));
    if (it == m_last.constEnd())
        return std::nullopt;
    return *it;
}

bool OutputJournal::append(JournalRecord record, QString *error)
{
    record.output = key(record.output);
    const auto fail = [&](const QString &what) {
        if (error)
            *error = QStringLiteral("cannot write the journal %1: %2").arg(m_path, what);
        return false;
    };
    if (!QDir().mkpath(QFileInfo(m_path).path()))
        return fail(QStringLiteral("cannot make its folder"));
    const FileLock lock(m_lockPath);
    if (!lock.held())
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    // Not flushed: a line a power cut takes away only makes its output look unrecorded, which
    // update keeps and never replaces; the converter flushes its output before naming it.
    const bool ok = writeAll(fd, encode(record));
    const int saved = errno;
    ::close(fd);
    if (!ok)
        return fail(QString::fromLocal8Bit(std::strerror(saved)));
    m_last.insert(record.output, record);
    ++m_lines;
    return true;
}

Standing OutputJournal::standing(const QString &outputPath, const QString &inputPath, const QString &settings) const
{
    const FileStamp out = FileStamp::of(outputPath);
    if (!out.exists())
        return Standing::Missing;
    const std::optional<JournalRecord> r = last(outputPath);
    if (!r)
        return Standing::Foreign;
    const bool same = r->settings == settings && r->inputStamp == FileStamp::of(inputPath)
                      && QDir::cleanPath(r->input) == QDir::cleanPath(inputPath);
    switch (r->kind) {
    case JournalRecord::Kind::Done:
        return same ? Standing::UpToDate : Standing::OutOfDate;
    case JournalRecord::Kind::Begun:
        // The conversion ended after its last record: the converter names only complete
        // files, so a file other than the one that lay there before is its output.
        return same && !(out == r->outputStamp) ? Standing::UpToDate : Standing::OutOfDate;
    case JournalRecord::Kind::Failed:
        return Standing::OutOfDate;
    }
    return Standing::OutOfDate;
}

} // namespace zm
