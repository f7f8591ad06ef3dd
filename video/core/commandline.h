#pragma once

#include <QString>
#include <QStringList>

namespace vidrune {

// The eight option slots in command-line order.
struct OptionSlots {
    QString videoCodecOption;
    QString videoBitRateOption;
    QString frameSizeOption;
    QString frameRateOption;
    QString audioCodecOption;
    QString sampleRateOption;
    QString audioBitRateOption;
    QString channelsOption;
};

namespace ConverterCommand {

// The formatter's limit: 1024 characters including the terminating NUL.
inline constexpr qsizetype MaxCharacters = 1023;
// The runner's buffer: 2000 bytes including the terminating NUL.
inline constexpr qsizetype MaxBytes = 1999;

// Text of a path placed between double quotes: a literal " is written as """, which the
// runner's splitting turns back into one quote.
QString QuotedText(const QString &path);

// vv -i "<input>" -y <eight option slots, each followed by one blank> "<output>"
QString Build(const QString &inputPath, const OptionSlots &options, const QString &outputPath);

// The same command as the argument list the converter is started with: the paths as they are,
// each option slot split into its words. Splitting Build's text gives exactly this list.
QStringList Arguments(const QString &inputPath, const OptionSlots &options,
                      const QString &outputPath);

// True when the line fits both buffers (characters and UTF-8 bytes). A line that does not
// fit is never truncated: that file fails.
bool Fits(const QString &commandLine);

} // namespace ConverterCommand

} // namespace vidrune
