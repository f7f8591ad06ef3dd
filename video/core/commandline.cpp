#include "core/commandline.h"

#include <QProcess>

namespace vidrune {

namespace ConverterCommand {

QString QuotedText(const QString &path)
{
    QString text = path;
    text.replace(QLatin1Char('"'), QStringLiteral("\"\"\""));
    return text;
}

QString Build(const QString &inputPath, const OptionSlots &options, const QString &outputPath)
{
    return QStringLiteral("vv -i \"%1\" -y ").arg(QuotedText(inputPath)) + options.videoCodecOption
           + QLatin1Char(' ') + options.videoBitRateOption + QLatin1Char(' ')
           + options.frameSizeOption + QLatin1Char(' ') + options.frameRateOption + QLatin1Char(' ')
           + options.audioCodecOption + QLatin1Char(' ') + options.sampleRateOption
           + QLatin1Char(' ') + options.audioBitRateOption + QLatin1Char(' ')
           + options.channelsOption + QLatin1Char(' ') + QLatin1Char('"') + QuotedText(outputPath)
           + QLatin1Char('"');
}

QStringList Arguments(const QString &inputPath, const OptionSlots &options,
                      const QString &outputPath)
{
    QStringList args{QStringLiteral("vv"), QStringLiteral("-i"), inputPath, QStringLiteral("-y")};
    for (const QString *slot :
         {&options.videoCodecOption, &options.videoBitRateOption, &options.frameSizeOption,
          &options.frameRateOption, &options.audioCodecOption, &options.sampleRateOption,
          &options.audioBitRateOption, &options.channelsOption})
        args << QProcess::splitCommand(*slot);
    args << outputPath;
    return args;
}

bool Fits(const QString &commandLine)
{
    return commandLine.size() <= MaxCharacters && commandLine.toUtf8().size() <= MaxBytes;
}

} // namespace ConverterCommand

} // namespace vidrune
