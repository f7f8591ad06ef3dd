#include "library/librarywork.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zm {

QString converterVersion(const QString &appDir)
{
    // The converter's file stands for its version: a new build or another copy is a new version,
    // and nothing has to be started to know it.
    const FileStamp conv = FileStamp::of(appDir + QStringLiteral("/data/conv"));
    if (!conv.exists())
        return {};
    return QStringLiteral("conv %1 %2").arg(conv.size).arg(conv.mtimeMs);
}

QString settingsHash(const CommandInputs &in)
{
    CommandInputs shape = in;
    shape.appDir = QString();
    shape.inputPath = QStringLiteral("/in/x");
    shape.outputDir = QStringLiteral("/out");
    shape.loudnessOut = QString(); // where a measurement goes is no choice
    QStringList args = BuildArguments(shape, outputPathFor(shape));
    if (!args.isEmpty())
        args.removeFirst();
    return QString::fromLatin1(
        QCryptographicHash::hash(args.join(QChar(0)).toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
}

QString settingsFingerprint(const CommandInputs &in, const QString &version)
{
    return settingsHash(in) + QLatin1Char('/') + version;
}

std::optional<ExistingPolicy> existingPolicyFromName(const QString &name)
{
    for (const ExistingPolicy p :
         {ExistingPolicy::Replace, ExistingPolicy::Skip, ExistingPolicy::Number, ExistingPolicy::Update})
        if (name == existingPolicyName(p))
            return p;
    return std::nullopt;
}

QString existingPolicyName(ExistingPolicy policy)
{
    switch (policy) {
    case ExistingPolicy::Replace:
        return QStringLiteral("replace");
    case ExistingPolicy::Skip:
        return QStringLiteral("skip");
    case ExistingPolicy::Number:
        return QStringLiteral("number");
    case ExistingPolicy::Update:
        return QStringLiteral("update");
    }
    return {};
}

ExistingDecision decideExisting(ExistingPolicy policy, const QString &wanted, Standing standing,
                                const std::function<QString()> &numbered)
{
    ExistingDecision d;
    d.output = wanted;
    if (standing == Standing::Missing)
        return d;
    switch (policy) {
    case ExistingPolicy::Replace:
        return d;
    case ExistingPolicy::Number:
        d.output = numbered();
        return d;
    case ExistingPolicy::Skip:
        d.convert = false;
        d.reason = QStringLiteral("exists");
        d.upToDate = standing == Standing::UpToDate;
        return d;
    case ExistingPolicy::Update:
        if (standing == Standing::OutOfDate)
            return d;
        d.convert = false;
        d.upToDate = standing == Standing::UpToDate;
        d.reason = d.upToDate ? QStringLiteral("up to date")
                              : QStringLiteral("exists, and no conversion here made it (--existing replace redoes it)");
        return d;
    }
    return d;
}

QString mirroredFolder(const QString &outputRoot, const QString &folderGiven, const QString &inputPath)
{
    QString root = QDir::cleanPath(outputRoot);
    if (folderGiven.isEmpty())
        return root;
    const QString relative = QDir(QDir::cleanPath(folderGiven)).relativeFilePath(QFileInfo(inputPath).path());
    if (relative == QLatin1String(".") || relative.startsWith(QLatin1String("../")) || relative == QLatin1String("..")
        || QDir::isAbsolutePath(relative))
        return root;
    return QDir::cleanPath(root + QLatin1Char('/') + relative);
}

bool isCoverImage(const QString &fileName)
{
    const QString lower = fileName.toLower();
    return lower == QLatin1String("cover.jpg") || lower == QLatin1String("folder.jpg")
           || (lower.startsWith(QLatin1String("front.")) && lower.size() > 6);
}

QStringList coverImages(const QString &folder)
{
    QStringList found;
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString &name : names)
        if (isCoverImage(name))
            found << name;
    return found;
}

namespace {

// Copies `from` to the new name `to`: an unnamed file in the target folder, named when complete
// (O_TMPFILE and linkat), so a stop at any moment leaves no part of it. Where the file system
// has no unnamed files, a QSaveFile (a temporary name, renamed at the end).
QString copyWhole(const QString &from, const QString &to)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly))
        return in.errorString();
    const QByteArray folder = QFile::encodeName(QFileInfo(to).path());
    const int fd = ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0) {
        QSaveFile out(to);
        if (!out.open(QIODevice::WriteOnly))
            return out.errorString();
        while (!in.atEnd()) {
            const QByteArray chunk = in.read(1 << 20);
            if (chunk.isEmpty() || out.write(chunk) != chunk.size())
                return out.errorString();
        }
        return out.commit() ? QString() : out.errorString();
    }
    QString error;
    while (error.isEmpty() && !in.atEnd()) {
        const QByteArray chunk = in.read(1 << 20);
        if (chunk.isEmpty()) {
            error = in.errorString();
            break;
        }
        qsizetype done = 0;
        while (done < chunk.size()) {
            const ssize_t n = ::write(fd, chunk.constData() + done, size_t(chunk.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                error = QString::fromLocal8Bit(std::strerror(errno));
                break;
            }
            done += n;
        }
    }
    if (error.isEmpty() && ::fdatasync(fd) != 0)
        error = QString::fromLocal8Bit(std::strerror(errno));
    if (error.isEmpty()) {
        const QByteArray proc = "/proc/self/fd/" + QByteArray::number(fd);
        if (::linkat(AT_FDCWD, proc.constData(), AT_FDCWD, QFile::encodeName(to).constData(), AT_SYMLINK_FOLLOW) != 0)
            error = QString::fromLocal8Bit(std::strerror(errno));
    }
    ::close(fd);
    return error;
}

} // namespace

QStringList copyCovers(const QString &from, const QString &to, QStringList *copied)
{
    QStringList errors;
    for (const QString &name : coverImages(from)) {
        const QString target = to + QLatin1Char('/') + name;
        if (QFileInfo::exists(target) || QFileInfo(target).isSymLink())
            continue;
        if (!QDir().mkpath(to)) {
            errors << QStringLiteral("%1: cannot make the folder").arg(to);
            break;
        }
        const QString error = copyWhole(from + QLatin1Char('/') + name, target);
        if (!error.isEmpty())
            errors << QStringLiteral("%1: cannot copy the cover: %2").arg(target, error);
        else if (copied)
            *copied << target;
    }
    return errors;
}

TrashResult trashOriginal(const QString &input, const QString &output)
{
    const QFileInfo in(input), out(output);
    struct stat a {
    }, b{};
    const bool same =
        in.canonicalFilePath() == out.canonicalFilePath()
        || (::stat(QFile::encodeName(input).constData(), &a) == 0
            && ::stat(QFile::encodeName(output).constData(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino);
    if (same)
        return {false, QStringLiteral("not moved to the trash: the output is the input")};
    if (!out.exists())
        return {false, QStringLiteral("not moved to the trash: the output is missing")};
    // The home trash lies in the user's data folder, which a new account may not have yet.
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    QFile file(input);
    if (!file.moveToTrash())
        return {
            false,
            QStringLiteral("not moved to the trash: the medium it is on has no trash (%1)").arg(file.errorString())};
    return {true, {}};
}

} // namespace zm
