#include "shared/desktopopener.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

namespace batch {

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

} // namespace batch
