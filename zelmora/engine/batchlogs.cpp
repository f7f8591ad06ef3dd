#include "engine/batchlogs.h"

#include <QDir>

namespace zm {

QString logsRoot()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/zelmora/logs");
}

BatchLogs::BatchLogs(QString root, int keep)
    : batch::BatchLogs(std::move(root), {QStringLiteral("yyyy-MM-dd_HH-mm-ss.zzz"), Naming::ByName}, keep)
{}

} // namespace zm
