#include "logic/launcharguments.h"

#include "suite/version.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace vidrune {

namespace {

QString ProgramName(const QStringList &arguments)
{
    const QString first = arguments.isEmpty() ? QString() : arguments.first();
    const QString name = first.mid(first.lastIndexOf(QLatin1Char('/')) + 1);
    return name.isEmpty() ? QStringLiteral("vidrune") : name;
}

} // namespace

LaunchArguments LaunchArguments::Parse(const QStringList &arguments, const QString &currentFolder)
{
    LaunchArguments result;
    const QString program = ProgramName(arguments);
    result.program = program;
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
        if (!info.exists()) {
            result.messages
                << QStringLiteral("%1: %2: no such file, skipped").arg(program, argument);
        } else if (!info.isFile()) {
            result.messages
                << QStringLiteral("%1: %2: not a regular file, skipped").arg(program, argument);
        } else {
            result.files << path;
        }
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

QString LaunchArguments::UsageText(const QString &program)
{
    return QStringLiteral("usage: %1 [FILE...]\n"
                          "Opens the video converter dialog with the FILEs in its list.\n"
                          "  --help     show this text\n"
                          "  --version  show the version\n")
        .arg(program);
}

QString LaunchArguments::VersionText()
{
    return QStringLiteral("Vidrune (" ZM_PACKAGE_NAME ") " ZM_PACKAGE_VERSION "\n");
}

} // namespace vidrune
