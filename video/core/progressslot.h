#pragma once

#include <QString>

namespace vidrune {

// The progress file of one dialog window. The converter is told its path in the environment
// (VV_PROGRESS_FILE) and keeps it up to date; the window resets and reads it.
//
// A portable copy uses progress.txt beside the program, as it always has, but only one window
// at a time may: the window that uses it holds an advisory lock (flock) on it for as long as it
// lives, and a second window of the same folder, in this process or another, gets a file of
// its own instead. An installed copy always gives each window a file of its own,
// "progress-<process id>-<6 letters>.txt" in the instance folder (StateLocations), removed when
// the window goes; files left by a process that crashed are removed by the next window.
class ProgressSlot final
{
public:
    static constexpr const char *EnvironmentName = "VV_PROGRESS_FILE";

    // `besideProgram`: try progress.txt in `appFolder` first. `instanceFolder` empty: the
    // default of StateLocations::InstanceFolder().
    ProgressSlot(QString appFolder, bool besideProgram, QString instanceFolder = QString());
    // Releases progress.txt (which stays, as it always has) or removes this window's own file.
    ~ProgressSlot();

    ProgressSlot(const ProgressSlot &) = delete;
    ProgressSlot &operator=(const ProgressSlot &) = delete;

    // The file for the next conversion, made when needed. Decided on the first call and kept
    // for the window's life, unless the progress.txt it holds has been removed or replaced
    // since (then it decides again). Empty when no file can be made anywhere.
    QString Acquire();
    // The file of the last Acquire (empty before the first).
    QString Path() const { return m_path; }
    bool IsBesideProgram() const { return m_lockFd >= 0; }

    // Removes the files of windows whose process no longer runs; returns how many.
    static int RemoveStale(const QString &instanceFolder);

private:
    bool ClaimBesideProgram();
    bool StillHeld() const;
    QString MakeOwnFile();
    void Release();

    QString m_appFolder;
    bool m_besideProgram = false;
    QString m_instanceFolder;
    QString m_path;
    QString m_ownFile; // this window's own file, removed on destruction
    int m_lockFd = -1; // open on progress.txt with the lock held
};

} // namespace vidrune
