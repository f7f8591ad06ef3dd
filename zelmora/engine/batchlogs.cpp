#include "engine/batchlogs.h"

#include "shared/statelocations.h"

namespace zm {

QString logsRoot()
{
    return batch::stateHome() + QStringLiteral("/zelmora/logs");
}

BatchLogs::BatchLogs(QString root, int keep)
    : batch::BatchLogs(std::move(root), {QStringLiteral("yyyy-MM-dd_HH-mm-ss.zzz"), Naming::ByName}, keep)
{}

} // namespace zm
