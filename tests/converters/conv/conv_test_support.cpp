#include "conv_test_support.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

namespace convtest {

RunResult run(const QString& program, const QStringList& args, int timeout_ms)
{
    QProcess p;
    p.setProgram(program);
    p.setArguments(args);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start();
    RunResult r;
    if (!p.waitForStarted(30000))
        return r;
    if (!p.waitForFinished(timeout_ms)) {
        p.kill();
        p.waitForFinished();
        r.crashed = true;
    }
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    r.crashed = r.crashed || p.exitStatus() == QProcess::CrashExit;
    r.exit_code = p.exitCode();
    return r;
}

QString conv_path()
{
    return QStringLiteral(CONV_PATH);
}

RunResult run_conv(const QStringList& args)
{
    return run(conv_path(), args);
}

Probe probe(const QString& path)
{
    Probe pr;
    const RunResult r = run("ffprobe", {"-v", "error", "-print_format", "json", "-show_format",
                                        "-show_streams", path});
    if (r.exit_code != 0 || r.crashed)
        return pr;
    const QJsonObject root = QJsonDocument::fromJson(r.out).object();
    const QJsonObject format = root["format"].toObject();
    auto add_tags = [&pr](const QJsonObject& tags) {
        for (auto it = tags.begin(); it != tags.end(); ++it)
            pr.tags[it.key().toLower()] = it.value().toString();
    };
    add_tags(format["tags"].toObject());
    pr.duration = format["duration"].toString().toDouble();
    for (const QJsonValue& v : root["streams"].toArray()) {
        const QJsonObject s = v.toObject();
        if (s["codec_type"].toString() != "audio")
            continue;
        pr.ok = true;
        pr.codec = s["codec_name"].toString();
        pr.sample_rate = s["sample_rate"].toString().toInt();
        pr.channels = s["channels"].toInt();
        pr.sample_format = s["sample_fmt"].toString();
        if (s.contains("duration"))
            pr.duration = s["duration"].toString().toDouble();
        add_tags(s["tags"].toObject());
        break;
    }
    return pr;
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
    const QString p = m_dir.filePath(QString("out%1").arg(++m_folders));
    QDir().mkpath(p);
    return p;
}

double Media::decoded_length(const QString& name)
{
    if (!m_lengths.contains(name)) {
        const QString ref = fresh_folder() + "/reference.wav";
        const RunResult r = run("ffmpeg", {"-v", "error", "-nostdin", "-y", "-i", path(name), "-vn",
                                           "-c:a", "pcm_s16le", ref});
        if (r.exit_code != 0)
            throw std::runtime_error("ffmpeg cannot decode " + name.toStdString());
        m_lengths[name] = probe(ref).duration;
    }
    return m_lengths[name];
}

namespace {
void make(const QStringList& args)
{
    const RunResult r = run("ffmpeg", QStringList{"-v", "error", "-nostdin", "-y"} + args);
    if (r.exit_code != 0 || r.crashed)
        throw std::runtime_error("ffmpeg failed making test media: " + r.err.toStdString());
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
    make({"-f", "lavfi", "-i", video, "-f", "lavfi", "-i", tone(44100), "-ac", "2", "-c:v",
          "flv1", "-c:a", "libmp3lame", path("av.flv")});
    make({"-f", "lavfi", "-i", video, "-f", "lavfi", "-i", tone(22050), "-ac", "1", "-c:v",
          "mpeg4", "-c:a", "libmp3lame", path("av.avi")});
    make({"-f", "lavfi", "-i", video, "-f", "lavfi", "-i", tone(48000), "-ac", "2", "-c:v",
          "libx264", "-preset", "ultrafast", "-c:a", "aac", "-metadata", "title=Tëst Title",
          "-metadata", "artist=Zelmora Tests", path("av.mp4")});
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
    const RunResult live = run("ffmpeg", {"-v", "error", "-nostdin", "-f", "lavfi", "-i", tone(44100),
                                          "-c:a", "flac", "-f", "matroska", "-live", "1", "pipe:1"});
    QFile live_file(path("no-length.mkv"));
    if (live.exit_code != 0 || !live_file.open(QIODevice::WriteOnly) || live_file.write(live.out) != live.out.size())
        throw std::runtime_error("cannot make no-length.mkv");
    live_file.close();
    QFile text(path("text.flv"));
    if (!text.open(QIODevice::WriteOnly) || text.write("this is not a video file\n") < 0)
        throw std::runtime_error("cannot write text.flv");
}

} // namespace convtest
