#include "launch/launcharguments.h"

#include "queue/naturalorder.h"
#include "suite/version.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace zm {

namespace {

QString programName(const QStringList &arguments)
{
    const QString first = arguments.value(0);
    const QString name = first.mid(first.lastIndexOf(QLatin1Char('/')) + 1);
    return name.isEmpty() ? QStringLiteral("zelmora") : name;
}

} // namespace

LaunchArguments LaunchArguments::parse(const QStringList &arguments, const QString &currentFolder)
{
    LaunchArguments result;
    result.program = programName(arguments);
    const QString &program = result.program;
    const QDir here(currentFolder);
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
            result.messages << QStringLiteral("%1: %2: no such file or folder, skipped").arg(program, argument);
        else if (!info.isDir() && !isRegularFile(path))
            result.messages << QStringLiteral("%1: %2: not a regular file or a folder, skipped").arg(program, argument);
        else
            result.paths << path;
    }
    if (help)
        result.action = Action::Help;
    else if (version)
        result.action = Action::Version;
    else if (error)
        result.action = Action::Error;
    return result;
}

QString LaunchArguments::usageText(const QString &program)
{
    return QStringLiteral("usage: %1 [FILE|FOLDER...]\n"
                          "Opens the Zelmora window with the FILEs, and the files below each FOLDER, in its queue.\n"
                          "When Zelmora is already running they join the queue of its window.\n"
                          "  --help     show this text\n"
                          "  --version  show the version\n")
        .arg(program);
}

QString LaunchArguments::versionText()
{
    return QStringLiteral("Zelmora (" ZM_PACKAGE_NAME ") " ZM_PACKAGE_VERSION "\n");
}

} // namespace zm
