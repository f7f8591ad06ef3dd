#include "core/desktopopener.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

namespace vidrune {

DesktopOpener::DesktopOpener(QObject *parent) : QObject(parent) {}

// Openers still running end with it (the programs they started stay).
DesktopOpener::~DesktopOpener() = default;

QString DesktopOpener::Program() const
{
    return m_program.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("xdg-open"))
                               : m_program;
}

bool DesktopOpener::Open(const QString &path)
{
    const QString opener = Program();
    if (opener.isEmpty() || !path.startsWith(QLatin1Char('/'))) {
        QTimer::singleShot(0, this, [this, path] { emit failed(path); });
        return false;
    }
    auto *process = new QProcess(this);
    process->setProgram(opener);
    process->setArguments({path});
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(process, &QProcess::errorOccurred, this,
            [this, process, path](QProcess::ProcessError error) {
                if (error != QProcess::FailedToStart)
                    return;
                emit failed(path);
                process->deleteLater();
            });
    connect(process, &QProcess::finished, this,
            [this, process, path](int code, QProcess::ExitStatus status) {
                if (status != QProcess::NormalExit || code != 0)
                    emit failed(path);
                process->deleteLater();
            });
    process->start();
    return true;
}

QString DesktopOpener::FailedText(const QString &path)
{
    return QStringLiteral("无法打开：\n\n%1\n\n这台电脑上没有能打开它的程序。可以从这里复制路径。")
        .arg(path);
}

} // namespace vidrune
