#pragma once
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <memory>

namespace zm::cli {

class CliBatch;

// How a run of zelmora-cli tells what happens. Three kinds: one redrawn line on a terminal,
// plain lines (one per finished file) elsewhere, and JSON objects, one per line and event, for
// other programs. Errors and notes always go to standard error.
class Reporter
{
public:
    virtual ~Reporter() = default;
    // The settings files the choices came from (empty: none was saved, the defaults hold).
    virtual void settings(const QStringList &readFrom) = 0;
    // An input that cannot be converted at all (missing, not a regular file or folder).
    virtual void refused(const QString &input, const QString &reason) = 0;
    virtual void started(const CliBatch &batch, int index) = 0;
    virtual void progress(const CliBatch &batch, int index) = 0;
    virtual void finished(const CliBatch &batch, int index) = 0;
    // The end of the run, with its exit status.
    virtual void done(const CliBatch &batch, int refused, int exitCode) = 0;

    // The kind for these streams: JSON when asked, the redrawn line when `out` is a terminal.
    static std::unique_ptr<Reporter> make(bool json, FILE *out, FILE *err);
};

// Says on `err` which settings files the choices came from.
void settingsNote(FILE *err, const QStringList &readFrom);

// Writes UTF-8 text and flushes it.
void print(FILE *stream, const QString &text);

// "[#####.....]" of `width` characters for a share 0 to 1.
QString progressBar(double fraction, int width);

} // namespace zm::cli
