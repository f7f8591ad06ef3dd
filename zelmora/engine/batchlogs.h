#pragma once
#include "shared/batchlogs.h"

#include <QString>

namespace zm {

// Where the converter logs live: $XDG_STATE_HOME/zelmora/logs, ~/.local/state/zelmora/logs when
// the variable is unset or not an absolute path.
QString logsRoot();

// zelmora's converter logs: a folder per batch named by its start time
// ("2026-01-02_03-04-05.006"), one file per input named after it ("clip.flv.log"; a second
// input of the same name gets "clip.flv (2).log"), the last twenty batches kept.
class BatchLogs final : public batch::BatchLogs
{
public:
    explicit BatchLogs(QString root = logsRoot(), int keep = kKeptBatches);
};

} // namespace zm
