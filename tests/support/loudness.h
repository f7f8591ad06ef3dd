// Measuring loudness with reference tools: the ffmpeg CLI's ebur128 filter and loudgain.
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

namespace testsupport {

struct Loudness {
    double integrated = 99; // LUFS, to a thousandth; 99 when nothing was measured
    double truePeak = 99;   // dBTP; 99 when nothing was measured
};

// The files played one after the other (an album when there are several), as the ffmpeg CLI's
// `ebur128=peak=true` filter measures them.
Loudness ebur128(const QStringList &files);

struct LoudgainLine {
    double loudness = 0; // LUFS
    double gain = 0;     // dB
};

// loudgain's album scan of the files (it writes nothing without -s): a line for every file, by
// file name, and one for "Album".
QMap<QString, LoudgainLine> loudgainScan(const QStringList &files);

} // namespace testsupport
