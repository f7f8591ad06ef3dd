// What ffprobe says about a media file, and the decoded audio's md5 as the ffmpeg CLI gives it.
#pragma once

#include <QMap>
#include <QString>
#include <QVector>

namespace testsupport {

struct StreamInfo {
    QString type; // "audio", "video", ...
    QString codec;
    QString sampleFormat;
    QString pixelFormat;
    QString profile;       // "Constrained Baseline", ...
    QString codecTag;      // the stored four characters, "xvid", ...
    QString channelLayout; // "5.1(side)", "quad", ...; empty when the stream does not say
    int index = -1;
    int sampleRate = 0;
    int channels = 0;
    int width = 0;
    int height = 0;
    double duration = 0;      // seconds; 0 when the stream does not say
    double startTime = 0;     // seconds; 0 when the stream does not say
    qint64 bitRate = 0;       // bits per second; 0 when the stream does not say
    qint64 frames = 0;        // counted frames when asked for, else the stored count
    double frameRate = 0;     // average frame rate
    double displayAspect = 0; // width / height as shown; 0 when the stream does not say
    bool attachedPic = false;
    QMap<QString, QString> tags; // keys lower case
};

struct Probe {
    bool ok = false;
    QString formatName;
    double duration = 0; // seconds, of the container
    qint64 size = 0;
    QMap<QString, QString> tags; // keys lower case
    QVector<StreamInfo> streams;

    // The first stream of that kind (cover pictures are not the video), or nullptr.
    const StreamInfo *audio() const;
    const StreamInfo *video() const;
    int count(const QString &type) const;
};

// Runs ffprobe on `path`; `countFrames` decodes the file to count every stream's frames.
Probe probe(const QString &path, bool countFrames = false);

// md5 of the first audio stream decoded to its own sample format; empty when that fails.
QString audioMd5(const QString &path);

} // namespace testsupport
