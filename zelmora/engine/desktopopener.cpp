#include "engine/desktopopener.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

namespace zm {

DesktopOpener::DesktopOpener(QObject *parent) : QObject(parent) {}

// The openers still running are ended with it (the programs they started stay).
DesktopOpener::~DesktopOpener() = default;

QString DesktopOpener::program() const
{
    return m_program.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("xdg-open")) : m_program;
}

bool DesktopOpener::open(const QString &pathOrUrl)
{
    const QString opener = program();
    // A path is absolute; anything else must be an address with a scheme.
    const bool usable =
        pathOrUrl.startsWith(QLatin1Char('/')) || (!pathOrUrl.isEmpty() && pathOrUrl.contains(QStringLiteral("://")));
    if (opener.isEmpty() || !usable) {
        // Said after the caller has gone on, as a later failure is.
        QTimer::singleShot(0, this, [this, pathOrUrl] { emit failed(pathOrUrl); });
        return false;
    }
    auto *process = new QProcess(this);
    process->setProgram(opener);
    process->setArguments({pathOrUrl});
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(process, &QProcess::errorOccurred, this, [this, process, pathOrUrl](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        emit failed(pathOrUrl);
        process->deleteLater();
    });
    connect(process, &QProcess::finished, this, [this, process, pathOrUrl](int code, QProcess::ExitStatus status) {
        if (status != QProcess::NormalExit || code != 0)
            emit failed(pathOrUrl);
        process->deleteLater();
    });
    process->start();
    return true;
}

QString openFailedText(const QString &pathOrUrl)
{
    return QStringLiteral("Zelmora could not open\n\n%1\n\nNo program on this computer opened it. The path can be "
                          "copied from here.")
        .arg(pathOrUrl);
}

} // namespace zm
