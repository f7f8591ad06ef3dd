#pragma once
#include "shared/outputnames.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace zm {

// Items of the four selectors of the main window, by index.
const QStringList &formatItems();     // cmbOF: "MP3" ... "AMR", "M4A", "OPUS"
const QStringList &bitrateItems();    // cmbBR: "32" ... "320"
const QStringList &sampleRateItems(); // cmbR: "48000" ... "8000"
const QStringList &channelItems();    // cmbChannel: "Mono", "Stereo"

// Extension with its dot (".mp3"), empty for an index outside the list.
QString formatExtension(int formatIndex);

// ReplayGain 2.0 tags the converter writes: none (the command lines as they always were), the
// track's, or the track's and, once the album is complete, the album's.
enum class ReplayGain { Off, Track, Album };

// Everything one converter command line is made of.
struct CommandInputs {
    QString appDir;    // folder of the program, without a trailing "/"
    QString inputPath; // head of the queue
    QString outputDir; // text of txtPath
    int formatIndex = 1;
    QString bitrate = QStringLiteral("192");
    QString sampleRate = QStringLiteral("44100");
    int channelIndex = 1;
    bool cutterOn = false;
    qint32 cutFrom = 0;
    qint32 cutTo = 0;
    // Loudness (Options, "Loudness"; zelmora-cli --replaygain, --normalize). Off: nothing is
    // added to the command line.
    ReplayGain replayGain = ReplayGain::Off;
    std::optional<double> normalize; // target loudness, LUFS (-loudnorm)
    QString loudnessOut;             // Album: where conv writes the track's measurement
    // Album normalisation: the measurements of every track of the album (-album-from), which
    // give each track the album's one gain instead of its own.
    QStringList albumFrom;
    // The measuring run before an album's normalisation: conv decodes and writes only
    // loudnessOut ("-measure-only -loudness-out FILE"), never the output.
    bool measureOnly = false;
};

// The loudness options conv gets for these inputs, in order ("-loudnorm -16 -album-from M1 ...
// -replaygain track -loudness-out FILE"; a measuring run: "-measure-only -loudness-out FILE");
// empty when loudness is off. They go just before the output.
QStringList loudnessArguments(const CommandInputs &in);

// The output folder with exactly one "/" at its end.
QString outputFolderWithSlash(const QString &txtPath);

// D + B + extension: where the converter writes the file for this input.
QString outputPathFor(const CommandInputs &in);

// One quoted run of the command line; a double quote inside is written as three.
QString quoteArg(const QString &text);

// The converter command line, writing to `outputPath`; empty for an unknown format. It is what
// the logs and the window show.
QString BuildCommandLine(const CommandInputs &in, const QString &outputPath);
inline QString BuildCommandLine(const CommandInputs &in)
{
    return BuildCommandLine(in, outputPathFor(in));
}

// The same command as the argument list the converter is started with (the program first):
// exactly what splitting BuildCommandLine's text gives, without splitting anything. Empty for
// an unknown format.
QStringList BuildArguments(const CommandInputs &in, const QString &outputPath);

// "base.ext" -> "base (n).ext" (n >= 2), applied to the file-name part only.
using batch::numberedPath;

} // namespace zm
