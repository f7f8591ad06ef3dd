// The finish sound: a soft two-note chime as a 16-bit PCM WAV file.
#pragma once

#include <QByteArray>

namespace skin::chime {

inline constexpr int kRate = 44100;
inline constexpr double kSeconds = 0.6;

// The complete file: RIFF header, mono 16-bit samples at 44.1 kHz.
QByteArray wav();

} // namespace skin::chime
