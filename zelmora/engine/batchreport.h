#pragma once
#include <QList>
#include <QString>

namespace zm {

// One file of a batch that did not convert, with the converter's reason.
struct FailedFile {
    QString inputPath;
    QString reason;
};

// How a batch ended, for the status strip, the notification and the failures window.
struct BatchOutcome {
    int converted = 0;
    int failed = 0;
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

// The whole list as text for the clipboard: each file on its own line, its reason indented below.
QString failuresText(const QList<FailedFile> &failures);

// "1 file could not be converted:" / "3 files could not be converted:".
QString failuresHeading(qsizetype count);

} // namespace zm
