#include "engine/commandline.h"

#include "queue/getfile.h"

#include <iterator>

namespace zm {

const QStringList &formatItems()
{
    static const QStringList items{QStringLiteral("MP3"), QStringLiteral("WMA"),  QStringLiteral("OGG"),
                                   QStringLiteral("WAV"), QStringLiteral("FLAC"), QStringLiteral("AC3"),
                                   QStringLiteral("AAC"), QStringLiteral("AMR"),  QStringLiteral("M4A"),
                                   QStringLiteral("OPUS")};
    return items;
}

const QStringList &bitrateItems()
{
    static const QStringList items{QStringLiteral("32"),  QStringLiteral("48"),  QStringLiteral("56"),
                                   QStringLiteral("64"),  QStringLiteral("80"),  QStringLiteral("96"),
                                   QStringLiteral("112"), QStringLiteral("128"), QStringLiteral("192"),
                                   QStringLiteral("224"), QStringLiteral("256"), QStringLiteral("320")};
    return items;
}

const QStringList &sampleRateItems()
{
    static const QStringList items{QStringLiteral("48000"), QStringLiteral("44100"), QStringLiteral("32000"),
                                   QStringLiteral("24000"), QStringLiteral("22050"), QStringLiteral("16000"),
                                   QStringLiteral("12050"), QStringLiteral("8000")};
    return items;
}

const QStringList &channelItems()
{
    static const QStringList items{QStringLiteral("Mono"), QStringLiteral("Stereo")};
    return items;
}

QString formatExtension(int formatIndex)
{
    static const char *const ext[] = {".mp3", ".wma", ".ogg", ".wav", ".flac", ".ac3", ".aac", ".amr", ".m4a", ".opus"};
    if (formatIndex < 0 || formatIndex >= int(std::size(ext)))
        return QString();
    return QString::fromLatin1(ext[formatIndex]);
}

QString outputFolderWithSlash(const QString &txtPath)
{
    return txtPath.endsWith(QLatin1Char('/')) ? txtPath : txtPath + QLatin1Char('/');
}

QString outputPathFor(const CommandInputs &in)
{
    return outputFolderWithSlash(in.outputDir) + GetBaseName(in.inputPath) + formatExtension(in.formatIndex);
}

QString quoteArg(const QString &text)
{
    QString inner = text;
    inner.replace(QLatin1Char('"'), QStringLiteral("\"\"\""));
    return QLatin1Char('"') + inner + QLatin1Char('"');
}

QStringList loudnessArguments(const CommandInputs &in)
{
    QStringList args;
    if (in.measureOnly) {
        args << QStringLiteral("-measure-only") << QStringLiteral("-loudness-out") << in.loudnessOut;
        return args;
    }
    if (in.normalize) {
        args << QStringLiteral("-loudnorm") << QString::number(*in.normalize, 'g', 6);
        for (const QString &m : in.albumFrom)
            args << QStringLiteral("-album-from") << m;
    }
    if (in.replayGain != ReplayGain::Off)
        args << QStringLiteral("-replaygain") << QStringLiteral("track");
    if (in.replayGain == ReplayGain::Album && !in.loudnessOut.isEmpty())
        args << QStringLiteral("-loudness-out") << in.loudnessOut;
    return args;
}

namespace {

// The loudness options as the command line's text shows them (paths quoted), each after a blank.
QString loudnessText(const CommandInputs &in)
{
    QString text;
    const QStringList args = loudnessArguments(in);
    for (qsizetype i = 0; i < args.size(); ++i)
        text += QLatin1Char(' ')
                + (i > 0
                           && (args.at(i - 1) == QLatin1String("-loudness-out")
                               || args.at(i - 1) == QLatin1String("-album-from"))
                       ? quoteArg(args.at(i))
                       : args.at(i));
    return text;
}

} // namespace

QString BuildCommandLine(const CommandInputs &in, const QString &outputPath)
{
    const int f = in.formatIndex;
    if (formatExtension(f).isEmpty())
        return QString();
    QString exe = in.appDir + QStringLiteral("/data/conv");
    // The executable path is written bare, so the command line reads the same in the logs as it
    // always has; a folder with blanks or quotes in its name would split it into several
    // arguments, so only such a path is quoted.
    if (exe.contains(QLatin1Char(' ')) || exe.contains(QLatin1Char('"')) || exe.contains(QLatin1Char('\t')))
        exe = quoteArg(exe);
    const QString P = quoteArg(in.inputPath);
    const QString O = quoteArg(outputPath);
    const QString meta = P + QLatin1Char(':') + O + QLatin1Char(' ') + O;

    QString line = exe + QStringLiteral(" -i ") + P;
    if (in.cutterOn)
        line +=
            QStringLiteral(" -ss ") + QString::number(in.cutFrom) + QStringLiteral(" -t ") + QString::number(in.cutTo);
    switch (f) {
    case 0:
        line += QStringLiteral(" -y -vn -ab ") + in.bitrate + QStringLiteral("k -ar ") + in.sampleRate
                + QStringLiteral(" -ac ") + QString::number(in.channelIndex + 1) + QStringLiteral(" -map_meta_data ")
                + meta;
        break;
    case 1:
        line += (in.cutterOn ? QStringLiteral(" -y -vn -acodec wmav1  -map_meta_data ")
                             : QStringLiteral(" -y -vn -acodec wmav1 -map_meta_data "))
                + meta;
        break;
    case 2:
        line += (in.cutterOn ? QStringLiteral(" -y -vn -ac 2  -map_meta_data ")
                             : QStringLiteral(" -y -vn -ac 2 -map_meta_data "))
                + meta;
        break;
    case 3:
        line += QStringLiteral(" -y -vn -acodec pcm_s16le ") + O;
        break;
    case 7:
        line += QStringLiteral(" -y -vn -ar 8000 -ab 7.4k -ac 1 ") + O;
        break;
    case 8: // M4A and Opus: the AAC line, carrying the tags like MP3
    case 9:
        line += QStringLiteral(" -y -vn -map_meta_data ") + meta;
        break;
    default: // FLAC, AC3, AAC
        line += QStringLiteral(" -y -vn ") + O;
        break;
    }
    // Loudness options go just before the output, which ends every line.
    if (const QString loudness = loudnessText(in); !loudness.isEmpty())
        line.insert(line.size() - O.size() - 1, loudness);
    return line;
}

QStringList BuildArguments(const CommandInputs &in, const QString &outputPath)
{
    const int f = in.formatIndex;
    if (formatExtension(f).isEmpty())
        return {};
    const QString &P = in.inputPath;
    const QString &O = outputPath;
    const QString meta = P + QLatin1Char(':') + O;
    QStringList args{in.appDir + QStringLiteral("/data/conv"), QStringLiteral("-i"), P};
    if (in.cutterOn)
        args << QStringLiteral("-ss") << QString::number(in.cutFrom) << QStringLiteral("-t")
             << QString::number(in.cutTo);
    args << QStringLiteral("-y") << QStringLiteral("-vn");
    switch (f) {
    case 0:
        args << QStringLiteral("-ab") << in.bitrate + QLatin1Char('k') << QStringLiteral("-ar") << in.sampleRate
             << QStringLiteral("-ac") << QString::number(in.channelIndex + 1) << QStringLiteral("-map_meta_data")
             << meta << O;
        break;
    case 1:
        args << QStringLiteral("-acodec") << QStringLiteral("wmav1") << QStringLiteral("-map_meta_data") << meta << O;
        break;
    case 2:
        args << QStringLiteral("-ac") << QStringLiteral("2") << QStringLiteral("-map_meta_data") << meta << O;
        break;
    case 3:
        args << QStringLiteral("-acodec") << QStringLiteral("pcm_s16le") << O;
        break;
    case 7:
        args << QStringLiteral("-ar") << QStringLiteral("8000") << QStringLiteral("-ab") << QStringLiteral("7.4k")
             << QStringLiteral("-ac") << QStringLiteral("1") << O;
        break;
    case 8: // M4A and Opus
    case 9:
        args << QStringLiteral("-map_meta_data") << meta << O;
        break;
    default: // FLAC, AC3, AAC
        args << O;
        break;
    }
    const QStringList loudness = loudnessArguments(in);
    for (qsizetype i = 0; i < loudness.size(); ++i)
        args.insert(args.size() - 1, loudness.at(i));
    return args;
}

} // namespace zm
