#pragma once
#include <QString>
#include <QStringView>
#include <optional>

namespace zm {

inline constexpr float kFullBarTwips = 5415.0f; // 361 pixels

struct ProgressDisplay {
    float widthTwips = 0; // width of imgPB
    QString caption;      // text of lblPB
    bool operator==(const ProgressDisplay &) const = default;
};

// The display of a share f of the whole (0 to 1): the bar's width and the caption, "100%" from 1 on.
ProgressDisplay progressDisplayFor(double f);

// Reads one chunk of converter text. Sets `totalSeconds` while it is 0 (from the "Duration: "
// value, or from the cutter's To time when the cutter is on) and returns the new display when
// the chunk holds "time=", nothing otherwise.
std::optional<ProgressDisplay> parseProgressChunk(QStringView chunk, qint32 &totalSeconds, bool cutterOn, qint32 cutTo);

// The media length a chunk announces after "Duration: " (hours:minutes:seconds), in seconds;
// nothing when the chunk holds no readable value.
std::optional<double> durationSecondsIn(QStringView chunk);

// The position after the chunk's "time=" markers (plain seconds; 0 for an empty value);
// nothing when the chunk holds no marker.
std::optional<double> progressSecondsIn(QStringView chunk);

// The percentage caption for a fraction f (0 <= f < 1): "33.3%", "7.5%", "0.25%".
QString percentCaption(double f);

} // namespace zm
