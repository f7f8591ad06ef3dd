// Helpers of the conv end-to-end tests: running programs with argument lists (never a shell),
// making media with the ffmpeg CLI in a private temporary folder and probing outputs with ffprobe.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace convtest {

struct RunResult {
    int exit_code = -1;
    bool crashed = false;
    QByteArray out;
    QByteArray err;
};

RunResult run(const QString& program, const QStringList& args, int timeout_ms = 120000);
RunResult run_conv(const QStringList& args);
QString conv_path();

struct Probe {
    bool ok = false;
    QString codec;
    int sample_rate = 0;
    int channels = 0;
    QString sample_format;
    double duration = 0; // seconds, from the audio stream (or the format when it has none)
    QMap<QString, QString> tags; // format and stream tags, keys lower case
};
Probe probe(const QString& path);

// Interleaved 16-bit samples of a WAV file's data chunk (first channel only when mono).
QVector<qint16> wav_samples(const QString& path);

// The inputs, made once per test process in a temporary folder.
class Media {
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
