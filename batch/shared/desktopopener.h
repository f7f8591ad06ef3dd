#pragma once

#include <QObject>
#include <QString>

namespace batch {

// Opens a local file or folder (an absolute path) or a web address with the user's programs
// through xdg-open, and says when that failed: xdg-open cannot be started, or ends with an
// error (no program for it, a path that is gone). xdg-open runs without a shell, with the path
// as its one argument and no pipe of ours (its complaints go to our standard error); it may
// stay until the program it started ends (it does on bare window managers), so it is followed,
// not waited for. What a window says about a failure is its own.
class DesktopOpener final : public QObject
{
    Q_OBJECT
public:
    explicit DesktopOpener(QObject *parent = nullptr);
    ~DesktopOpener() override;

    // The program that opens things; empty (the default): xdg-open as PATH finds it.
    void setProgram(const QString &program) { m_program = program; }
    // The program open() runs: empty when there is none to run.
    QString program() const;

    // Starts opening; false when that failed at once (no program, a relative path, nothing
    // given). A failure found later is signalled.
    bool open(const QString &pathOrUrl);

signals:
    // Opening `pathOrUrl` failed (once per open() that failed, at once or later).
    void failed(const QString &pathOrUrl);

private:
    QString m_program;
};

} // namespace batch
