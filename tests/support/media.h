// Making test media with the ffmpeg CLI.
#pragma once

#include <QString>
#include <QStringList>

namespace testsupport {

// Runs `ffmpeg -hide_banner -loglevel error -nostdin -y <args> <path>`; true when it succeeded
// and `path` exists.
bool makeMedia(const QString &path, const QStringList &args);

// Inputs and stream options of the usual clip: a testsrc2 picture of `size` at `rate` fps and a
// sine tone at `sampleRate` Hz with `channels` channels, `seconds` long. Codecs are left to the
// output's extension unless more options follow. The list ends with output options, so further
// inputs go before it.
QStringList clipArgs(double seconds, bool video = true, bool audio = true,
                     const QString &size = QStringLiteral("320x240"), int rate = 25,
                     int sampleRate = 44100, int channels = 2);

} // namespace testsupport
