#include "support/probe.h"

#include "support/process.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace testsupport {
namespace {

QMap<QString, QString> lowerCaseTags(const QJsonObject &tags)
{
    QMap<QString, QString> out;
    for (auto it = tags.begin(); it != tags.end(); ++it)
        out.insert(it.key().toLower(), it.value().toString());
    return out;
}

double number(const QJsonValue &value)
{
    return value.isString() ? value.toString().toDouble() : value.toDouble();
}

double rate(const QString &fraction)
{
    const QStringList parts = fraction.split('/');
    if (parts.size() != 2 || parts[1].toDouble() == 0)
        return 0;
    return parts[0].toDouble() / parts[1].toDouble();
}

} // namespace

const StreamInfo *Probe::audio() const
{
    for (const StreamInfo &s : streams)
        if (s.type == QLatin1String("audio"))
            return &s;
    return nullptr;
}

const StreamInfo *Probe::video() const
{
    for (const StreamInfo &s : streams)
        if (s.type == QLatin1String("video") && !s.attachedPic)
            return &s;
    return nullptr;
}

int Probe::count(const QString &type) const
{
    int n = 0;
    for (const StreamInfo &s : streams)
        n += s.type == type;
    return n;
}

Probe probe(const QString &path, bool countFrames)
{
    QStringList args{"-v", "error", "-print_format", "json", "-show_format", "-show_streams"};
    if (countFrames)
        args << "-count_frames";
    args << path;
    const RunResult r = run("ffprobe", args);
    Probe p;
    if (!r.ok())
        return p;
    const QJsonObject root = QJsonDocument::fromJson(r.out).object();
    const QJsonObject format = root.value("format").toObject();
    if (format.isEmpty())
        return p;
    p.ok = true;
    p.formatName = format.value("format_name").toString();
    p.duration = number(format.value("duration"));
    p.size = format.value("size").toString().toLongLong();
    p.tags = lowerCaseTags(format.value("tags").toObject());
    for (const QJsonValue v : root.value("streams").toArray()) {
        const QJsonObject o = v.toObject();
        StreamInfo s;
        s.index = o.value("index").toInt(-1);
        s.type = o.value("codec_type").toString();
        s.codec = o.value("codec_name").toString();
        s.sampleFormat = o.value("sample_fmt").toString();
        s.pixelFormat = o.value("pix_fmt").toString();
        s.profile = o.value("profile").toString();
        s.codecTag = o.value("codec_tag_string").toString();
        s.channelLayout = o.value("channel_layout").toString();
        s.sampleRate = o.value("sample_rate").toString().toInt();
        s.channels = o.value("channels").toInt();
        s.width = o.value("width").toInt();
        s.height = o.value("height").toInt();
        s.duration = number(o.value("duration"));
        s.startTime = number(o.value("start_time"));
        s.bitRate = o.value("bit_rate").toString().toLongLong();
        s.frames = (countFrames ? o.value("nb_read_frames") : o.value("nb_frames"))
                       .toString()
                       .toLongLong();
        s.frameRate = rate(o.value("avg_frame_rate").toString());
        s.displayAspect = rate(o.value("display_aspect_ratio").toString().replace(':', '/'));
        s.attachedPic = o.value("disposition").toObject().value("attached_pic").toInt() == 1;
        s.tags = lowerCaseTags(o.value("tags").toObject());
        p.streams.push_back(s);
    }
    return p;
}

QString audioMd5(const QString &path)
{
    const RunResult r = run("ffmpeg", {"-hide_banner", "-loglevel", "error", "-nostdin", "-i", path,
                                       "-map", "0:a:0", "-f", "md5", "-"});
    const QString line = QString::fromUtf8(r.out).trimmed();
    if (!r.ok() || !line.startsWith("MD5="))
        return {};
    return line.mid(4);
}

} // namespace testsupport
