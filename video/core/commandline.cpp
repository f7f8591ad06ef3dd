#include "commandline.h"

namespace ConverterCommand {

QString QuotedText(const QString &path)
{
    QString text = path;
    text.replace(QLatin1Char('"'), QStringLiteral("\"\"\""));
    return text;
}

QString Build(const QString &inputPath, const OptionSlots &options, const QString &outputPath)
{
    return QStringLiteral("vv -i \"%1\" -y ").arg(QuotedText(inputPath))
        + options.videoCodec + QLatin1Char(' ') + options.videoBitRate + QLatin1Char(' ')
        + options.frameSize + QLatin1Char(' ') + options.frameRate + QLatin1Char(' ')
        + options.audioCodec + QLatin1Char(' ') + options.sampleRate + QLatin1Char(' ')
        + options.audioBitRate + QLatin1Char(' ') + options.channels + QLatin1Char(' ')
        + QLatin1Char('"') + QuotedText(outputPath) + QLatin1Char('"');
}

bool Fits(const QString &commandLine)
{
    return commandLine.size() <= MaxCharacters && commandLine.toUtf8().size() <= MaxBytes;
}

} // namespace ConverterCommand
