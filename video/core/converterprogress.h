#pragma once

#include <QString>

namespace vidrune {

// progress.txt: the converter keeps the progress of the current file in it, in tenths of a
// percent (0 to 1000), as decimal digits; nothing after the number is read.
namespace ConverterProgress {

inline constexpr int Complete = 1000;

// Creates or truncates the file and writes "0" (no line end). False when it cannot be written.
bool Reset(const QString &path);

// Reads one decimal integer (leading blanks and a sign allowed). A file that cannot be opened,
// or that does not begin with a number, reads as 0. Values far out of range are clamped to a
// value that is still out of range.
long long Read(const QString &path);

// What the dialog shows for a value read.
struct View {
    QString status;     // "%d%%" with value / 10, or "--%"
    bool valid = false; // false: out of range, the bar stays where it is
    int barValue = 0;   // 0..1000 when valid
};
View Interpret(long long value);

} // namespace ConverterProgress

} // namespace vidrune
