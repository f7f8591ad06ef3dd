#pragma once
#include "process/processrequest.h"

#include <QList>
#include <QString>

namespace zm {

// One file of a batch that did not convert, with the converter's reason.
struct FailedFile {
    QString inputPath;
    QString reason;
    QString root = {}; // the folder it was found in (empty when added by itself)
};

// How a batch ended, for the status strip, the notification and the failures window.
struct BatchOutcome {
    int converted = 0;
    int failed = 0;
    int skipped = 0; // left out because their outputs exist
    bool stopped = false;
    QList<FailedFile> failures;
    QString summary;      // "9 converted, 1 failed · 1:23"
    QString outputFolder; // where the outputs went
    QString logFolder;    // this batch's converter logs (empty when none could be kept)
};

// The converter's last non-empty line of text (its error, when it failed).
QString lastOutputLine(const QString &outputs);

// The reason a conversion failed, shown once beside the file: the converter's last line with
// the input's path taken out (the entry already names the file), or, when the converter said
// nothing, how it ended.
QString failureReason(const QString &outputs, const QString &inputPath, const QString &howItEnded);

// How one file's conversion came out, judged alike by the window and zelmora-cli: converted
// only when the converter exited 0 and the output file exists. A file that did not convert
// after a stop was asked for was stopped, not failed.
struct FileVerdict {
    enum class Kind { Converted, Failed, Stopped };
    Kind kind = Kind::Failed;
    QString reason;    // Failed: the converter's last line without the path, or how it ended
    QString logResult; // the log's "Result:" ("converted", "failed: …", "stopped (…)")
};
FileVerdict judgeConversion(const batch::ProcessOutcome &end, const QString &outputs, const QString &inputPath,
                            const QString &outputPath, bool stopRequested);

// The text of one conversion's log: input, output, command, the converter's whole output and
// the result.
QString conversionLogText(const QString &inputPath, const QString &outputPath, const QString &commandLine,
                          const QString &outputs, const QString &result);

// The whole list as text for the clipboard: each file on its own line, its reason indented below.
QString failuresText(const QList<FailedFile> &failures);

// "1 file could not be converted:" / "3 files could not be converted:".
QString failuresHeading(qsizetype count);

} // namespace zm
