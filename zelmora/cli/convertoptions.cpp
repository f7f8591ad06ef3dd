#include "cli/convertoptions.h"

#include "engine/commandline.h"
#include "settings/optionsrules.h"
#include "settings/settingsstore.h"

#include <QDir>
#include <QRegularExpression>

#include <cmath>
#include <optional>

namespace zm::cli {

namespace {

// "90", "1:30", "0:01:30" (hours without a limit of digits) as whole seconds.
std::optional<qint64> parseSeconds(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^(?:(?:(\\d+):)?(\\d+):)?(\\d+)$"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const bool hasMinutes = !m.captured(2).isEmpty();
    const qint64 h = m.captured(1).toLongLong(), mins = m.captured(2).toLongLong(), s = m.captured(3).toLongLong();
    if (hasMinutes && s > 59)
        return std::nullopt;
    if (!m.captured(1).isEmpty() && mins > 59)
        return std::nullopt;
    if (m.captured(3).size() > 9 || m.captured(2).size() > 9 || m.captured(1).size() > 6)
        return std::nullopt;
    return h * 3600 + mins * 60 + s;
}

// The options and whether each takes a value; the long name is the key.
struct OptionSpec {
    const char *longName;
    char shortName; // 0: none
    bool takesValue;
};
constexpr OptionSpec kOptions[] = {
    {"format", 'f', true},
    {"bitrate", 'b', true},
    {"rate", 'r', true},
    {"channels", 'c', true},
    {"from", 0, true},
    {"to", 0, true},
    {"no-cut", 0, false},
    {"output-folder", 'o', true},
    {"jobs", 'j', true},
    {"json", 0, false},
    {"help", 'h', false},
    {"version", 0, false},
    {"mirror", 0, false},
    {"copy-covers", 0, false},
    {"existing", 0, true},
    {"retry", 0, true},
    {"trash-originals", 0, false},
    {"root", 0, true},
    {"replaygain", 0, true},
    {"normalize", 0, true},
};

const OptionSpec *findLong(const QString &name)
{
    for (const OptionSpec &o : kOptions)
        if (name == QLatin1String(o.longName))
            return &o;
    return nullptr;
}

const OptionSpec *findShort(QChar c)
{
    for (const OptionSpec &o : kOptions)
        if (o.shortName && c == QLatin1Char(o.shortName))
            return &o;
    return nullptr;
}

} // namespace

QStringList formatNames()
{
    QStringList names;
    for (const QString &item : formatItems())
        names << item.toLower();
    return names;
}

SavedChoices readSavedChoices(const QString &appDir)
{
    SavedChoices saved;
    const SettingsStore store(appDir);
    bool found = false;
    const MainChoices c = store.readChoices(&found);
    if (found)
        saved.readFrom << store.locations().setupIni();
    saved.selections.formatIndex = c.formatIndex;
    saved.selections.bitrate = bitrateItems().value(c.bitrateIndex, QStringLiteral("192"));
    saved.selections.sampleRate = sampleRateItems().value(c.rateIndex, QStringLiteral("44100"));
    saved.selections.channelIndex = c.channelIndex;
    saved.selections.outputDir = c.outputFolder;
    if (store.readOptions(saved.settings))
        saved.readFrom << store.locations().optionsIni();
    return saved;
}

ConvertOptions parseConvertOptions(const QStringList &arguments, const SavedChoices &saved, int cores,
                                   const QString &program, bool plan)
{
    ConvertOptions o;
    o.selections = saved.selections;
    o.settings = saved.settings;
    o.jobs = std::max(cores, 1);
    const auto error = [&](const QString &text) { o.errors << program + QStringLiteral(": ") + text; };
    std::optional<qint64> from, to;
    bool noCut = false;
    bool mp3Only = false;

    const auto apply = [&](const OptionSpec &request, const QString &value) {
        const QString name = QLatin1String(request.longName);
        if (name == QLatin1String("format")) {
            const qsizetype i = formatNames().indexOf(value.toLower());
            if (i < 0)
                error(
                    QStringLiteral("unknown format '%1' (one of %2)").arg(value, formatNames().join(QLatin1Char('|'))));
            else
                o.selections.formatIndex = int(i);
        } else if (name == QLatin1String("bitrate")) {
            QString v = value.toLower();
            if (v.endsWith(QLatin1Char('k')))
                v.chop(1);
            if (!bitrateItems().contains(v))
                error(
                    QStringLiteral("bit rate '%1' is not one of %2").arg(value, bitrateItems().join(QLatin1Char(' '))));
            else
                o.selections.bitrate = v;
            mp3Only = true;
        } else if (name == QLatin1String("rate")) {
            if (!sampleRateItems().contains(value))
                error(QStringLiteral("sample rate '%1' is not one of %2")
                          .arg(value, sampleRateItems().join(QLatin1Char(' '))));
            else
                o.selections.sampleRate = value;
            mp3Only = true;
        } else if (name == QLatin1String("channels")) {
            const QString v = value.toLower();
            if (v == QLatin1String("1") || v == QLatin1String("mono"))
                o.selections.channelIndex = 0;
            else if (v == QLatin1String("2") || v == QLatin1String("stereo"))
                o.selections.channelIndex = 1;
            else
                error(QStringLiteral("channels '%1' is not 1, 2, mono or stereo").arg(value));
            mp3Only = true;
        } else if (name == QLatin1String("from") || name == QLatin1String("to")) {
            const auto s = parseSeconds(value);
            if (!s || *s > kMaxCutSeconds)
                error(QStringLiteral("--%1 '%2' is not a time of 0 to %3 seconds ([[H:]M:]S)")
                          .arg(name, value)
                          .arg(kMaxCutSeconds));
            else
                (name == QLatin1String("from") ? from : to) = s;
        } else if (name == QLatin1String("no-cut")) {
            noCut = true;
        } else if (name == QLatin1String("output-folder")) {
            if (value.isEmpty())
                error(QStringLiteral("--output-folder needs a folder"));
            else
                o.selections.outputDir = QDir::cleanPath(QDir::current().absoluteFilePath(value));
        } else if (name == QLatin1String("jobs")) {
            bool ok = false;
            const int n = value.toInt(&ok);
            if (!ok || n < 1 || n > 256)
                error(QStringLiteral("--jobs '%1' is not a number of 1 to 256").arg(value));
            else
                o.jobs = n;
        } else if (name == QLatin1String("json")) {
            o.json = true;
        } else if (name == QLatin1String("mirror")) {
            o.mirror = true;
        } else if (name == QLatin1String("copy-covers")) {
            o.copyCovers = true;
        } else if (name == QLatin1String("existing")) {
            if (const auto p = existingPolicyFromName(value))
                o.existing = *p;
            else
                error(QStringLiteral("--existing '%1' is not replace, skip, number or update").arg(value));
        } else if (name == QLatin1String("retry")) {
            bool ok = false;
            const int n = value.toInt(&ok);
            if (!ok || n < 0 || n > 100)
                error(QStringLiteral("--retry '%1' is not a number of 0 to 100").arg(value));
            else
                o.retries = n;
        } else if (name == QLatin1String("trash-originals")) {
            o.trashOriginals = true;
        } else if (name == QLatin1String("root")) {
            if (!plan)
                error(QStringLiteral("--root is for the plan command"));
            else if (value.isEmpty())
                error(QStringLiteral("--root needs a folder"));
            else
                o.root = QDir::cleanPath(QDir::current().absoluteFilePath(value));
        } else if (name == QLatin1String("replaygain")) {
            if (value == QLatin1String("track"))
                o.replayGain = ReplayGain::Track;
            else if (value == QLatin1String("album"))
                o.replayGain = ReplayGain::Album;
            else
                error(QStringLiteral("--replaygain '%1' is not track or album").arg(value));
        } else if (name == QLatin1String("normalize")) {
            bool ok = false;
            const double lufs = value.toDouble(&ok);
            if (!ok || !std::isfinite(lufs) || lufs < -70 || lufs > 0)
                error(QStringLiteral("--normalize '%1' is not a loudness of -70 to 0 LUFS").arg(value));
            else
                o.normalize = lufs;
        } else if (name == QLatin1String("help")) {
            o.help = true;
        } else if (name == QLatin1String("version")) {
            o.version = true;
        }
    };

    bool options = true;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (!options || a.size() < 2 || !a.startsWith(QLatin1Char('-'))) {
            o.inputs << a;
            continue;
        }
        if (a == QLatin1String("--")) {
            options = false;
            continue;
        }
        const OptionSpec *request = nullptr;
        std::optional<QString> value;
        QString shown = a;
        if (a.startsWith(QLatin1String("--"))) {
            const qsizetype eq = a.indexOf(QLatin1Char('='));
            request = findLong(a.mid(2, eq < 0 ? -1 : eq - 2));
            shown = a.left(eq < 0 ? a.size() : eq);
            if (eq >= 0)
                value = a.mid(eq + 1);
        } else {
            request = findShort(a.at(1));
            shown = a.left(2);
            if (a.size() > 2)
                value = a.mid(2);
        }
        if (!request) {
            error(QStringLiteral("unknown option %1").arg(shown));
            continue;
        }
        if (request->takesValue && !value) {
            if (i + 1 >= arguments.size()) {
                error(QStringLiteral("%1 needs a value").arg(shown));
                continue;
            }
            value = arguments.at(++i);
        } else if (!request->takesValue && value) {
            error(QStringLiteral("%1 takes no value").arg(shown));
            continue;
        }
        apply(*request, value.value_or(QString()));
    }

    if (noCut && (from || to))
        error(QStringLiteral("--no-cut cannot go with --from or --to"));
    else if (noCut)
        o.settings.gCutterOn = 0;
    else if (from && !to)
        error(QStringLiteral("--from needs --to, the length of the cut"));
    else if (to && *to == 0)
        error(QStringLiteral("--to must be more than 0 seconds"));
    else if (to) {
        o.settings.gCutterOn = 1;
        o.settings.gCutFrom = qint32(from.value_or(0));
        o.settings.gCutTo = qint32(*to);
    }
    if (mp3Only && o.selections.formatIndex != 0 && o.errors.isEmpty())
        o.notes << program
                       + QStringLiteral(": --bitrate, --rate and --channels are for MP3 only; %1 does not use them")
                             .arg(formatItems().value(o.selections.formatIndex));
    if (o.copyCovers && !o.mirror)
        error(QStringLiteral("--copy-covers needs --mirror"));
    if (o.inputs.isEmpty() && !o.help && !o.version && o.errors.isEmpty())
        error(QStringLiteral("no FILE or FOLDER to convert"));
    return o;
}

QString convertUsage(const QString &program)
{
    return QStringLiteral("usage: %1 [OPTIONS] FILE|FOLDER...\n"
                          "Extracts the sound of the FILEs, and of every file below each FOLDER (as Add Folder finds\n"
                          "them), into audio files, as the Zelmora window does. Choices not given are the ones the\n"
                          "window saved (it says which settings files it read).\n"
                          "\n"
                          "%2"
                          "  -j, --jobs N             how many files convert at once (default: the number of cores)\n"
                          "      --json               one JSON object per line and event, for other programs\n"
                          "  -h, --help               show this text\n"
                          "      --version            show the version\n"
                          "\n"
                          "Run it again with the same arguments and it goes on where it stopped: with\n"
                          "--existing update, what is up to date is skipped.\n"
                          "Other commands: %1 plan|run|status|albums --help (job files for many machines).\n"
                          "\n"
                          "Exit status: 0 every file was converted or up to date; 1 some failed (each reason is\n"
                          "printed); 2 bad usage; 130 interrupted (SIGINT or SIGTERM: every converter is stopped\n"
                          "and no partial file is left).\n")
        .arg(program, choiceOptionsUsage());
}

QString choiceOptionsUsage()
{
    return QStringLiteral("  -f, --format FORMAT      %1\n"
                          "  -b, --bitrate KBIT       MP3 bit rate: %2\n"
                          "  -r, --rate HZ            MP3 sample rate: %3\n"
                          "  -c, --channels N         MP3 channels: 1 (mono) or 2 (stereo)\n"
                          "      --from TIME          Music Cutter: start the cut TIME into each file ([[H:]M:]S)\n"
                          "      --to TIME            Music Cutter: keep TIME of each file from there\n"
                          "      --no-cut             convert whole files, even when the cutter was saved on\n"
                          "  -o, --output-folder DIR  where the files go\n"
                          "      --mirror             a file found in a FOLDER goes to the same path below DIR\n"
                          "                           (Music/A/B/01.flac given as Music -> DIR/A/B/01.mp3)\n"
                          "      --copy-covers        with --mirror: copy cover.jpg, folder.jpg and front.* beside\n"
                          "                           the music into the mirrored folders (never over a file)\n"
                          "      --existing POLICY    an output that exists already: update (default: skip it when\n"
                          "                           it is up to date, convert again when its input or the\n"
                          "                           settings changed, keep a file no conversion here made),\n"
                          "                           replace, skip, or number (\"name (2).mp3\")\n"
                          "      --retry N            try each failed file N more times, after the others\n"
                          "      --trash-originals    move each input to the trash once its output is converted\n"
                          "                           (never when the output is the input)\n"
                          "      --replaygain MODE    write ReplayGain 2.0 tags: track, or album (track tags, and\n"
                          "                           once an album's last file is done, album tags into all its\n"
                          "                           files; an album: one output folder, one album tag, or\n"
                          "                           without tags one source folder). Opus: R128 gains\n"
                          "      --normalize LUFS     bring each file to this loudness (-70 to 0; say -16) with\n"
                          "                           one gain, its true peak kept at -1 dBTP at most; with\n"
                          "                           --replaygain album, each album as a whole: every file is\n"
                          "                           measured first, then all of an album get its one gain\n"
                          "                           (not for job files: plan refuses the two together)\n")
        .arg(formatNames().join(QLatin1Char('|')), bitrateItems().join(QLatin1Char(' ')),
             sampleRateItems().join(QLatin1Char(' ')));
}

} // namespace zm::cli
