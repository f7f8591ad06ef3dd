#pragma once
#include "engine/durationsource.h"

#include <QString>
#include <memory>
#include <optional>

namespace zm {

// The media length of one file from its container header (libavformat), in seconds; nothing
// for a file that is not a regular file, cannot be read as media or states no length. Cheap:
// no packet is decoded, and the streams are only looked into when the header states no length.
std::optional<double> probeMediaDuration(const QString &path);

// The file's album tag, read from its header only (no packet is read); empty when it has none
// or is not media.
QString probeAlbumTag(const QString &path);

// Finds the lengths of queued files on a worker thread of its own, one file at a time, each file
// once. Answers from the GUI thread never wait for the worker. Destroying the object does not
// wait either: the worker finishes the file it is on and ends.
class DurationProbe final : public DurationSource
{
public:
    DurationProbe();
    ~DurationProbe() override;
    DurationProbe(const DurationProbe &) = delete;
    DurationProbe &operator=(const DurationProbe &) = delete;

    void request(const QStringList &paths) override;
    QList<std::optional<double>> knownDurations(const QStringList &paths) const override;

    struct State;

private:
    std::shared_ptr<State> m_state;
};

} // namespace zm
