#pragma once

#include <QObject>
#include <QString>

namespace vidrune {

// Opens a local file or folder (an absolute path) with the user's programs through xdg-open,
// and says when that failed: xdg-open cannot be started, or ends with an error (no program for
// it, a path that is gone). xdg-open runs without a shell, with the path as its one argument
// and no pipe of ours; it may stay until the program it started ends, so it is followed, not
// waited for.
class DesktopOpener final : public QObject
{
    Q_OBJECT
public:
    explicit DesktopOpener(QObject *parent = nullptr);
    ~DesktopOpener() override;

    // The program that opens things; empty (the default): xdg-open as PATH finds it.
    void SetProgram(const QString &program) { m_program = program; }
    // The program Open() runs: empty when there is none.
    QString Program() const;

    // Starts opening; false when that failed at once (no program, not an absolute path). A
    // failure found later is signalled as well.
    bool Open(const QString &path);

    // What the message box says when opening `path` failed, the path on a line of its own.
    static QString FailedText(const QString &path);

signals:
    // Opening `path` failed (once per Open() that failed, at once or later).
    void failed(const QString &path);

private:
    QString m_program;
};

} // namespace vidrune
