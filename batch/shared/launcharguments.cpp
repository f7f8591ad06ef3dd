#include "shared/launcharguments.h"

#include "suite/version.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <cstdio>
#include <sys/stat.h>

namespace batch {

namespace {

QString programName(const LaunchRules &rules, const QStringList &arguments)
{
    const QString first = arguments.value(0);
    const QString name = first.mid(first.lastIndexOf(QLatin1Char('/')) + 1);
    return name.isEmpty() ? rules.defaultName : name;
}

// A regular file, or a link to one.
bool isRegularFile(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

QString LaunchRules::usageText(const QString &program) const
{
    return QStringLiteral("usage: %1 %2\n")
               .arg(program, takesFolders ? QStringLiteral("[FILE|FOLDER...]") : QStringLiteral("[FILE...]"))
           + description
           + QStringLiteral("  --help     show this text\n"
                            "  --version  show the version\n");
}

QString LaunchRules::versionText() const
{
    return productName + QStringLiteral(" (" ZM_PACKAGE_NAME ") " ZM_PACKAGE_VERSION "\n");
}

LaunchArguments LaunchArguments::parse(const LaunchRules &rules, const QStringList &arguments,
                                       const QString &currentFolder)
{
    LaunchArguments result;
    result.program = programName(rules, arguments);
    const QString &program = result.program;
    const QDir here(currentFolder);
    const QString missing = rules.takesFolders ? QStringLiteral("%1: %2: no such file or folder, skipped")
                                               : QStringLiteral("%1: %2: no such file, skipped");
    const QString strange = rules.takesFolders ? QStringLiteral("%1: %2: not a regular file or a folder, skipped")
                                               : QStringLiteral("%1: %2: not a regular file, skipped");
    bool options = true;
    bool help = false, version = false, error = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        QString argument = arguments.at(i);
        if (options && argument == QLatin1String("--")) {
            options = false;
            continue;
        }
        if (options && argument.size() > 1 && argument.startsWith(QLatin1Char('-'))) {
            if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
                help = true;
            } else if (argument == QLatin1String("--version")) {
                version = true;
            } else {
                error = true;
                result.messages << QStringLiteral("%1: unknown option %2").arg(program, argument);
            }
            continue;
        }
        if (argument.startsWith(QLatin1String("file://"))) {
            const QUrl url(argument);
            if (url.isLocalFile())
                argument = url.toLocalFile();
        }
        if (argument.isEmpty())
            continue;
        const QString path = QDir::cleanPath(here.absoluteFilePath(argument));
        const QFileInfo info(path);
        if (!info.exists())
            result.messages << missing.arg(program, argument);
        else if (!(rules.takesFolders && info.isDir()) && !isRegularFile(path))
            result.messages << strange.arg(program, argument);
        else
            result.paths << path;
    }
    // Asking for help or the version is answered whatever else the line holds.
    if (help)
        result.action = Action::Help;
    else if (version)
        result.action = Action::Version;
    else if (error)
        result.action = Action::Error;
    return result;
}

bool answerInformation(const LaunchRules &rules, const LaunchArguments &launch)
{
    QString text;
    if (launch.action == LaunchArguments::Action::Help)
        text = rules.usageText(launch.program);
    else if (launch.action == LaunchArguments::Action::Version)
        text = rules.versionText();
    else
        return false;
    std::fputs(text.toLocal8Bit().constData(), stdout);
    return true;
}

} // namespace batch
