#include "converters/conv/conv_test_support.h"

#include "support/media.h"
#include "support/probe.h"

#include <QDir>
#include <QFile>

#include <cstring>
#include <stdexcept>

namespace convtest {

QString conv_path()
{
    return QStringLiteral(CONV_PATH);
}

RunResult run_conv(const QStringList& args)
{
    return testsupport::run(conv_path(), args);
}

Sound sound_of(const QString& path)
{
    Sound sound;
    const testsupport::Probe p = testsupport::probe(path);
    sound.tags = p.tags;
    sound.duration = p.duration;
    const testsupport::StreamInfo* audio = p.audio();
    if (!p.ok || !audio)
        return sound;
    sound.ok = true;
    sound.codec = audio->codec;
    sound.sample_rate = audio->sampleRate;
    sound.channels = audio->channels;
    sound.sample_format = audio->sampleFormat;
    if (audio->duration > 0)
        sound.duration = audio->duration;
    sound.tags.insert(audio->tags);
    return sound;
}

QVector<qint16> wav_samples(const QString& path)
{
    QFile f(path);
    QVector<qint16> out;
    if (!f.open(QIODevice::ReadOnly))
        return out;
    const QByteArray d = f.readAll();
    qsizetype pos = 12; // "RIFF" size "WAVE"
    while (pos + 8 <= d.size()) {
        quint32 size = 0;
        std::memcpy(&size, d.constData() + pos + 4, 4);
        if (d.mid(pos, 4) == "data") {
            const qsizetype n = std::min<qsizetype>(size, d.size() - pos - 8) / 2;
            out.resize(n);
            std::memcpy(out.data(), d.constData() + pos + 8, static_cast<size_t>(n) * 2);
            return out;
        }
        pos += 8 + size + (size & 1);
    }
    return out;
}

Media& Media::get()
{
    static Media media;
    return media;
}

QString Media::fresh_folder()
{
    QString p = m_dir.filePath(QString("out%1").arg(++m_folders));
    QDir().mkpath(p);
    return p;
}

double Media::decoded_length(const QString& name)
{
    if (!m_lengths.contains(name)) {
        const QString ref = fresh_folder() + "/reference.wav";
        if (!testsupport::makeMedia(ref, {"-i", path(name), "-vn", "-c:a", "pcm_s16le"}))
            throw std::runtime_error("ffmpeg cannot decode " + name.toStdString());
        m_lengths[name] = sound_of(ref).duration;
    }
    return m_lengths[name];
}

namespace {
// The last argument is the file to make.
void make(QStringList args)
{
    const QString path = args.takeLast();
    if (!testsupport::makeMedia(path, args))
        throw std::runtime_error("ffmpeg failed making " + path.toStdString());
}
} // namespace

Media::Media()
{
    if (!m_dir.isValid())
        throw std::runtime_error("no temporary folder");
    const QString len = QString::number(kLength);
    const QString video = "testsrc=size=160x120:rate=25:duration=" + len;
    auto tone = [&len](int rate) {
        return QString("sine=frequency=440:sample_rate=%1:duration=%2").arg(rate).arg(len);
    };
    make({"-f", "lavfi", "-i", video, "-f", "lavfi", "-i", tone(44100), "-ac", "2", "-c:v", "flv1",
          "-c:a", "libmp3lame", path("av.flv")});
    make({"-f", "lavfi", "-i", video, "-f", "lavfi", "-i", tone(22050), "-ac", "1", "-c:v", "mpeg4",
          "-c:a", "libmp3lame", path("av.avi")});
    make({"-f",          "lavfi",
          "-i",          video,
          "-f",          "lavfi",
          "-i",          tone(48000),
          "-ac",         "2",
          "-c:v",        "libx264",
          "-preset",     "ultrafast",
          "-c:a",        "aac",
          "-metadata",   "title=Tëst Title",
          "-metadata",   "artist=Zelmora Tests",
          path("av.mp4")});
    make({"-f", "lavfi", "-i", tone(32000), "-ac", "2", "-c:a", "libmp3lame", path("tone.mp3")});
    // Ogg keeps its tags on the stream.
    make({"-f", "lavfi", "-i", tone(44100), "-c:a", "libvorbis", "-metadata", "title=Tëst Title",
          "-metadata", "artist=Zelmora Tests", path("song.ogg")});
    make({"-f", "lavfi", "-i", tone(48000), "-ac", "6", "-c:a", "pcm_s16le", path("surround.wav")});
    make({"-f", "lavfi", "-i", tone(96000), "-ac", "2", "-c:a", "pcm_s16le", path("hi96.wav")});
    make({"-f", "lavfi", "-i", tone(8000), "-ac", "1", "-c:a", "pcm_s16le", path("lo8.wav")});
    make({"-f", "lavfi", "-i", video, "-c:v", "mpeg4", path("video-only.mp4")});
    const QString step = "aevalsrc=exprs='mod(n,32768)/32768':s=48000:d=" + len;
    make({"-f", "lavfi", "-i", step, "-c:a", "pcm_s16le", path("step.wav")});
    make({"-f", "lavfi", "-i", step, "-c:a", "flac", path("step.flac")});
    // Matroska stamps audio in whole milliseconds: cutting must still be sample-exact.
    make({"-f", "lavfi", "-i", video, "-f", "lavfi", "-i", step, "-c:v", "mpeg4", "-c:a",
          "pcm_s16le", path("step.mkv")});
    // One audio packet stamped a day ahead of the others (a damaged file).
    make({"-f", "lavfi", "-i", step, "-c:a", "pcm_s16le", "-bsf:a",
          "setts=pts=if(eq(N\\,20)\\,PTS+100000000\\,PTS):dts=if(eq(N\\,20)\\,DTS+100000000\\,DTS)",
          path("step-jump.mkv")});
    // Written to a pipe, Matroska cannot go back to store the length: "Duration: N/A".
    const RunResult live =
        testsupport::run("ffmpeg", {"-v", "error", "-nostdin", "-f", "lavfi", "-i", tone(44100),
                                    "-c:a", "flac", "-f", "matroska", "-live", "1", "pipe:1"});
    QFile live_file(path("no-length.mkv"));
    if (!live.ok() || !live_file.open(QIODevice::WriteOnly)
        || live_file.write(live.out) != live.out.size())
        throw std::runtime_error("cannot make no-length.mkv");
    live_file.close();
    QFile text(path("text.flv"));
    if (!text.open(QIODevice::WriteOnly) || text.write("this is not a video file\n") < 0)
        throw std::runtime_error("cannot write text.flv");
}

} // namespace convtest
