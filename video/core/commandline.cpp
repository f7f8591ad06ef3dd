#include "core/commandline.h"

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

bool Fits(const QString &commandLine)
{
    return commandLine.size() <= MaxCharacters && commandLine.toUtf8().size() <= MaxBytes;
}

} // namespace ConverterCommand

} // namespace vidrune
