#pragma once
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace zm {

// Media lengths of queued files, found without holding anyone up: `request` hands paths to be
// looked at in the background, `knownDurations` answers at once with what is known so far
// (one entry per path, in order; nothing for a length not known yet or not to be known).
class DurationSource
{
public:
    virtual ~DurationSource() = default;
    virtual void request(const QStringList &paths) = 0;
    virtual QList<std::optional<double>> knownDurations(const QStringList &paths) const = 0;
};

} // namespace zm
