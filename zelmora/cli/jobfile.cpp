#include "cli/jobfile.h"

#include "cli/convertoptions.h"
#include "settings/optionsrules.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>

#include <cmath>

namespace zm::cli {

namespace {

QJsonObject settingsObject(const CommandInputs &c)
{
    QJsonObject o{{QStringLiteral("format"), formatNames().value(c.formatIndex)}};
    o.insert(QStringLiteral("bitrate"), c.bitrate);
    o.insert(QStringLiteral("rate"), c.sampleRate);
    o.insert(QStringLiteral("channels"), c.channelIndex + 1);
    if (c.cutterOn) {
        o.insert(QStringLiteral("from"), c.cutFrom);
        o.insert(QStringLiteral("to"), c.cutTo);
    }
    if (c.replayGain != ReplayGain::Off)
        o.insert(QStringLiteral("replaygain"),
                 c.replayGain == ReplayGain::Album ? QStringLiteral("album") : QStringLiteral("track"));
    if (c.normalize)
        o.insert(QStringLiteral("normalize"), *c.normalize);
    return o;
}

bool readSettings(const QJsonObject &o, CommandInputs &c, QString *error)
{
    const auto fail = [&](const QString &what) {
        *error = what;
        return false;
    };
    const qsizetype format = formatNames().indexOf(o.value(QStringLiteral("format")).toString());
    if (format < 0)
        return fail(QStringLiteral("unknown format"));
    c.formatIndex = int(format);
    c.bitrate = o.value(QStringLiteral("bitrate")).toString(QStringLiteral("192"));
    c.sampleRate = o.value(QStringLiteral("rate")).toString(QStringLiteral("44100"));
    if (!bitrateItems().contains(c.bitrate) || !sampleRateItems().contains(c.sampleRate))
        return fail(QStringLiteral("bad bit rate or sample rate"));
    const int channels = o.value(QStringLiteral("channels")).toInt(2);
    if (channels != 1 && channels != 2)
        return fail(QStringLiteral("channels must be 1 or 2"));
    c.channelIndex = channels - 1;
    c.cutterOn = o.contains(QStringLiteral("to"));
    if (c.cutterOn) {
        const double from = o.value(QStringLiteral("from")).toDouble(0), to = o.value(QStringLiteral("to")).toDouble(0);
        if (from < 0 || to <= 0 || from > kMaxCutSeconds || to > kMaxCutSeconds)
            return fail(QStringLiteral("bad cut"));
        c.cutFrom = qint32(from);
        c.cutTo = qint32(to);
    }
    if (const QJsonValue gain = o.value(QStringLiteral("replaygain")); !gain.isUndefined()) {
        if (gain == QLatin1String("track"))
            c.replayGain = ReplayGain::Track;
        else if (gain == QLatin1String("album"))
            c.replayGain = ReplayGain::Album;
        else
            return fail(QStringLiteral("replaygain must be track or album"));
    }
    if (const QJsonValue target = o.value(QStringLiteral("normalize")); !target.isUndefined()) {
        if (!target.isDouble() || target.toDouble() < -70 || target.toDouble() > 0)
            return fail(QStringLiteral("normalize must be a loudness of -70 to 0"));
        c.normalize = target.toDouble();
    }
    return true;
}

} // namespace

QByteArray jobLine(const Job &job)
{
    // QJsonObject writes its keys in sorted order, so equal jobs give equal lines.
    QJsonObject o{{QStringLiteral("index"), job.index},
                  {QStringLiteral("root"), job.root},
                  {QStringLiteral("input"), job.input},
                  {QStringLiteral("output_root"), job.outputRoot},
                  {QStringLiteral("output"), job.output},
                  {QStringLiteral("settings"), settingsObject(job.choices)},
                  {QStringLiteral("settings_hash"), job.settingsHash},
                  {QStringLiteral("size"), double(job.size)},
                  {QStringLiteral("mtime_ms"), double(job.mtimeMs)}};
    o.insert(QStringLiteral("duration"),
             job.duration ? QJsonValue(std::round(*job.duration * 1000) / 1000) : QJsonValue());
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<Job> parseJob(const QByteArray &line, QString *error)
{
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(line, &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject()) {
        *error = QStringLiteral("not a JSON object");
        return std::nullopt;
    }
    const QJsonObject o = doc.object();
    Job j;
    j.index = o.value(QStringLiteral("index")).toInt(-1);
    j.root = o.value(QStringLiteral("root")).toString();
    j.input = o.value(QStringLiteral("input")).toString();
    j.outputRoot = o.value(QStringLiteral("output_root")).toString();
    j.output = o.value(QStringLiteral("output")).toString();
    if (!QDir::isAbsolutePath(j.root) || j.input.isEmpty() || j.output.isEmpty() || j.outputRoot.isEmpty()) {
        *error = QStringLiteral("a job needs root (absolute), input, output_root and output");
        return std::nullopt;
    }
    if (!readSettings(o.value(QStringLiteral("settings")).toObject(), j.choices, error))
        return std::nullopt;
    j.settingsHash = o.value(QStringLiteral("settings_hash")).toString();
    if (o.value(QStringLiteral("duration")).isDouble())
        j.duration = o.value(QStringLiteral("duration")).toDouble();
    j.size = qint64(o.value(QStringLiteral("size")).toDouble(-1));
    j.mtimeMs = qint64(o.value(QStringLiteral("mtime_ms")).toDouble(-1));
    return j;
}

std::optional<QList<Job>> readJobFile(const QString &path, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, f.errorString());
        return std::nullopt;
    }
    QList<Job> jobs;
    int lineNumber = 0;
    while (!f.atEnd()) {
        const QByteArray line = f.readLine().trimmed();
        ++lineNumber;
        if (line.isEmpty())
            continue;
        QString why;
        auto job = parseJob(line, &why);
        if (!job) {
            *error = QStringLiteral("%1:%2: %3").arg(path).arg(lineNumber).arg(why);
            return std::nullopt;
        }
        job->index = int(jobs.size());
        jobs << *job;
    }
    return jobs;
}

std::optional<QPair<QString, QString>> parseRootMap(const QString &text)
{
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    if (eq <= 0 || eq == text.size() - 1)
        return std::nullopt;
    return QPair<QString, QString>{QDir::cleanPath(text.left(eq)), text.mid(eq + 1)};
}

QString mapRoot(const QString &path, const RootMap &map)
{
    const QString clean = QDir::cleanPath(path);
    for (const auto &[from, to] : map) {
        if (clean == from || clean.startsWith(from == QLatin1String("/") ? from : from + QLatin1Char('/'))) {
            const QString rest = clean.mid(from.size());
            return QDir::cleanPath(QDir::current().absoluteFilePath(to + QLatin1Char('/') + rest));
        }
    }
    return QDir::cleanPath(QDir::current().absoluteFilePath(clean));
}

JobPaths resolve(const Job &job, const RootMap &map)
{
    JobPaths p;
    const QString root = QDir::cleanPath(job.root);
    const auto under = [&](const QString &base, const QString &path) {
        return QDir::isAbsolutePath(path) ? path : base + QLatin1Char('/') + path;
    };
    p.root = mapRoot(root, map);
    p.input = mapRoot(under(root, job.input), map);
    p.outputRoot = mapRoot(under(root, job.outputRoot), map);
    p.output = QDir::cleanPath(under(p.outputRoot, job.output));
    return p;
}

QString relativeIfBelow(const QString &base, const QString &path)
{
    const QString b = QDir::cleanPath(base);
    QString p = QDir::cleanPath(path);
    if (p == b)
        return QStringLiteral(".");
    if (p.startsWith(b == QLatin1String("/") ? b : b + QLatin1Char('/')))
        return p.mid(b == QLatin1String("/") ? 1 : b.size() + 1);
    return p;
}

std::optional<Selection> parseShard(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^(\\d{1,6})/(\\d{1,6})$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    Selection s;
    s.shard = m.captured(1).toInt();
    s.shards = m.captured(2).toInt();
    if (s.shards < 1 || s.shard < 1 || s.shard > s.shards)
        return std::nullopt;
    return s;
}

QList<int> selectJobs(int count, const Selection &selection)
{
    QList<int> picked;
    if (selection.index) {
        if (*selection.index >= 0 && *selection.index < count)
            picked << *selection.index;
        return picked;
    }
    for (int i = 0; i < count; ++i)
        if (i % selection.shards == selection.shard - 1)
            picked << i;
    return picked;
}

} // namespace zm::cli
