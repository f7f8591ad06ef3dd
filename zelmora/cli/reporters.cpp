#include "cli/reporters.h"

#include "cli/clibatch.h"
#include "engine/batchstatus.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <sys/ioctl.h>
#include <unistd.h>

namespace zm::cli {

namespace {

using State = CliBatch::File::State;

QString outcomeWord(State s)
{
    switch (s) {
    case State::Converted:
        return QStringLiteral("converted");
    case State::Failed:
        return QStringLiteral("failed");
    case State::Stopped:
        return QStringLiteral("stopped");
    case State::Skipped:
        return QStringLiteral("skipped");
    case State::Running:
        return QStringLiteral("running");
    case State::Waiting:
        break;
    }
    return QStringLiteral("waiting");
}

// The line a finished file gets in plain and terminal output.
QString resultLine(const CliBatch::File &f)
{
    switch (f.state) {
    case State::Converted:
        return QStringLiteral("converted  %1 -> %2\n").arg(f.input, f.output);
    case State::Failed:
        return QStringLiteral("failed     %1: %2\n").arg(f.input, f.reason);
    case State::Stopped:
        return QStringLiteral("stopped    %1\n").arg(f.input);
    case State::Skipped:
        return QStringLiteral("skipped    %1: %2\n").arg(f.input, f.reason);
    default:
        return QString();
    }
}

QString doneLine(const CliBatch &batch, int refused)
{
    QString text = batch.summary();
    if (refused > 0)
        text += QStringLiteral(" (%1 not converted: no such file)").arg(refused);
    if (!batch.logFolder().isEmpty())
        text += QStringLiteral("\nlogs: ") + batch.logFolder();
    return text + QLatin1Char('\n');
}

// One line per finished file.
class LineReporter : public Reporter
{
public:
    LineReporter(FILE *out, FILE *err) : m_out(out), m_err(err) {}
    void settings(const QStringList &readFrom) override { settingsNote(m_err, readFrom); }
    void refused(const QString &input, const QString &reason) override
    {
        print(m_out, QStringLiteral("failed     %1: %2\n").arg(input, reason));
    }
    void started(const CliBatch &, int) override {}
    void progress(const CliBatch &, int) override {}
    void finished(const CliBatch &batch, int index) override { print(m_out, resultLine(batch.files().at(index))); }
    void done(const CliBatch &batch, int refused, int) override { print(m_out, doneLine(batch, refused)); }

protected:
    FILE *m_out;
    FILE *m_err;
};

// The plain lines, with one line below them that is drawn again as the batch goes on.
class TerminalReporter final : public LineReporter
{
public:
    using LineReporter::LineReporter;
    void refused(const QString &input, const QString &reason) override
    {
        clear();
        LineReporter::refused(input, reason);
    }
    void started(const CliBatch &batch, int) override { draw(batch, true); }
    void progress(const CliBatch &batch, int) override { draw(batch, false); }
    void finished(const CliBatch &batch, int index) override
    {
        clear();
        LineReporter::finished(batch, index);
        draw(batch, true);
    }
    void done(const CliBatch &batch, int refused, int exitCode) override
    {
        clear();
        LineReporter::done(batch, refused, exitCode);
    }

private:
    static int columns(FILE *out)
    {
        winsize w{};
        if (::ioctl(::fileno(out), TIOCGWINSZ, &w) == 0 && w.ws_col > 0)
            return w.ws_col;
        return 80;
    }
    void clear()
    {
        if (m_shown)
            print(m_out, QStringLiteral("\r\x1b[K"));
        m_shown = false;
    }
    void draw(const CliBatch &batch, bool now)
    {
        // At most ten times a second, so a terminal over a slow link keeps up.
        if (!now && m_drawn.isValid() && m_drawn.elapsed() < 100)
            return;
        m_drawn.start();
        int finished = 0;
        QStringList current;
        for (const CliBatch::File &f : batch.files()) {
            if (f.state == State::Converted || f.state == State::Failed || f.state == State::Stopped
                || f.state == State::Skipped)
                ++finished;
            else if (f.state == State::Running)
                current << QFileInfo(f.input).fileName();
        }
        const double share = batch.batchFraction();
        QString line = QStringLiteral("%1/%2 %3 %4%")
                           .arg(finished)
                           .arg(batch.files().size())
                           .arg(progressBar(share, 20))
                           .arg(int(std::floor(share * 100)));
        if (!current.isEmpty())
            line += QStringLiteral(" \u00b7 ") + current.join(QStringLiteral(", "));
        if (const auto left = batch.secondsLeft())
            line += QStringLiteral(" \u00b7 about ") + formatClock(*left) + QStringLiteral(" left");
        const int width = columns(m_out) - 1;
        if (line.size() > width)
            line = line.left(std::max(width - 1, 0)) + QStringLiteral("\u2026");
        print(m_out, QStringLiteral("\r\x1b[K") + line);
        m_shown = true;
    }

    bool m_shown = false;
    QElapsedTimer m_drawn;
};

// One JSON object per line and event.
class JsonReporter final : public Reporter
{
public:
    explicit JsonReporter(FILE *out) : m_out(out) {}
    void settings(const QStringList &readFrom) override
    {
        emitEvent({{QStringLiteral("event"), QStringLiteral("settings")},
                   {QStringLiteral("files"), QJsonArray::fromStringList(readFrom)}});
    }
    void refused(const QString &input, const QString &reason) override
    {
        emitEvent({{QStringLiteral("event"), QStringLiteral("finished")},
                   {QStringLiteral("input"), input},
                   {QStringLiteral("outcome"), QStringLiteral("failed")},
                   {QStringLiteral("reason"), reason}});
    }
    void started(const CliBatch &batch, int index) override
    {
        const CliBatch::File &f = batch.files().at(index);
        emitEvent({{QStringLiteral("event"), QStringLiteral("started")},
                   {QStringLiteral("index"), index},
                   {QStringLiteral("input"), f.input},
                   {QStringLiteral("output"), f.output},
                   {QStringLiteral("command"), f.commandLine},
                   {QStringLiteral("arguments"), QJsonArray::fromStringList(f.arguments)}});
    }
    void progress(const CliBatch &batch, int index) override
    {
        QJsonObject o{{QStringLiteral("event"), QStringLiteral("progress")},
                      {QStringLiteral("index"), index},
                      {QStringLiteral("input"), batch.files().at(index).input},
                      {QStringLiteral("file"), batch.fraction(index)},
                      {QStringLiteral("batch"), batch.batchFraction()}};
        if (const auto left = batch.secondsLeft())
            o.insert(QStringLiteral("seconds_left"), double(*left));
        emitEvent(o);
    }
    void finished(const CliBatch &batch, int index) override
    {
        const CliBatch::File &f = batch.files().at(index);
        QJsonObject o{{QStringLiteral("event"), QStringLiteral("finished")},
                      {QStringLiteral("index"), index},
                      {QStringLiteral("input"), f.input},
                      {QStringLiteral("outcome"), outcomeWord(f.state)}};
        if (f.state == State::Converted || f.state == State::Skipped)
            o.insert(QStringLiteral("output"), f.output);
        if (f.state == State::Failed || f.state == State::Skipped)
            o.insert(QStringLiteral("reason"), f.reason);
        if (f.state == State::Skipped)
            o.insert(QStringLiteral("up_to_date"), f.upToDate);
        if (f.attempts > 1)
            o.insert(QStringLiteral("attempts"), f.attempts);
        if (!f.notes.isEmpty())
            o.insert(QStringLiteral("notes"), QJsonArray::fromStringList(f.notes));
        emitEvent(o);
    }
    void done(const CliBatch &batch, int refused, int exitCode) override
    {
        emitEvent({{QStringLiteral("event"), QStringLiteral("done")},
                   {QStringLiteral("converted"), batch.converted()},
                   {QStringLiteral("failed"), batch.failed() + refused},
                   {QStringLiteral("skipped"), batch.skipped()},
                   {QStringLiteral("up_to_date"), batch.upToDate()},
                   {QStringLiteral("stopped"), batch.wasStopped()},
                   {QStringLiteral("exit_code"), exitCode},
                   {QStringLiteral("logs"), batch.logFolder()}});
    }

private:
    void emitEvent(const QJsonObject &o)
    {
        print(m_out, QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
    }
    FILE *m_out;
};

} // namespace

void settingsNote(FILE *err, const QStringList &readFrom)
{
    if (readFrom.isEmpty())
        print(err, QStringLiteral("zelmora-cli: no saved settings; using the window's first-start choices\n"));
    else
        print(err, QStringLiteral("zelmora-cli: settings from %1\n").arg(readFrom.join(QStringLiteral(" and "))));
}

void print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

QString progressBar(double fraction, int width)
{
    const int full = std::clamp(int(std::floor(fraction * width)), 0, width);
    return QLatin1Char('[') + QString(full, QLatin1Char('#')) + QString(width - full, QLatin1Char('.'))
           + QLatin1Char(']');
}

std::unique_ptr<Reporter> Reporter::make(bool json, FILE *out, FILE *err)
{
    if (json)
        return std::make_unique<JsonReporter>(out);
    if (::isatty(::fileno(out)))
        return std::make_unique<TerminalReporter>(out, err);
    return std::make_unique<LineReporter>(out, err);
}

} // namespace zm::cli
