// Helpers of the conv end-to-end tests: conv itself, what an output's sound looks like to
// ffprobe, the samples of a WAV file, and the input media made once per test process in a
// private temporary folder. Running programs, probing and making media go through tests/support.
#pragma once

#include "support/process.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

namespace convtest {

using testsupport::RunResult;

QString conv_path();
RunResult run_conv(const QStringList& args);

// The first audio stream of a file, with the file's and the stream's tags together (Ogg keeps
// them on the stream); ok is false when the file has no sound ffprobe can read.
struct Sound {
    bool ok = false;
    QString codec;
    int sample_rate = 0;
    int channels = 0;
    QString sample_format;
    double duration = 0; // seconds, of the audio stream (or of the file when the stream has none)
    QMap<QString, QString> tags; // keys lower case
};
Sound sound_of(const QString& path);

// Interleaved 16-bit samples of a WAV file's data chunk (first channel only when mono).
QVector<qint16> wav_samples(const QString& path);

// The inputs, made once per test process in a temporary folder.
class Media
{
public:
    static Media& get();
    QString dir() const { return m_dir.path(); }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    // A fresh empty folder for one test's outputs.
    QString fresh_folder();
    // Length in seconds of the input's audio as the ffmpeg CLI decodes it (the reference;
    // containers without gapless info keep the mp3 encoder's delay and padding).
    double decoded_length(const QString& name);

    // flv (flv1 + mp3 44100 stereo), avi (mpeg4 + mp3 22050 mono), mp4 (h264 + aac 48000
    // stereo with tags), mp3-only (32000 stereo), 6-channel wav, 96 kHz stereo and 8 kHz mono
    // wav, video-only mp4, text as .flv,
    // step wav, flac and mkv (sample n holds n mod 32768, 48000 Hz mono), a Matroska file
    // without a stored length (no-length.mkv), all 3 s long.
    static constexpr double kLength = 3.0;

private:
    Media();
    QTemporaryDir m_dir;
    int m_folders = 0;
    QMap<QString, double> m_lengths;
};

} // namespace convtest
