#pragma once
#include <QList>
#include <QString>

namespace zm {

// How many files a batch converts at once: the choices of the Options menu's "Simultaneous
// Conversions", kept as `Jobs=` under `[Batch]` in zelmora.conf beside setup.ini.
enum class JobsChoice { One = 1, Two = 2, Four = 4, AllCores = 0 };

// The choices in menu order, with their captions: "1", "2", "4", "All Cores (N)".
QList<JobsChoice> jobsChoices();
QString jobsCaption(JobsChoice choice, int cores);
// The number of converters at once (at least 1) for a machine with `cores` cores.
int jobsFor(JobsChoice choice, int cores);

// The value as the file holds it: "1", "2", "4" or "all".
QString jobsSettingText(JobsChoice choice);
// The choice a stored value names; One for anything else (a missing key, garbage, 3, -2).
JobsChoice jobsChoiceFromText(const QString &text);

JobsChoice readJobsSetting(const QString &confPath);
// Keeps the other keys of the file; false when it could not be written.
bool writeJobsSetting(const QString &confPath, JobsChoice choice);

// Options, "Open Output Folder When Done": whether the output folder opens when a batch ends,
// kept as `OpenFolderWhenDone=` under `[Batch]` in zelmora.conf. On unless the file says
// "false" (or "0", "no", "off"); a missing key, garbage or a list leave it on.
bool readOpenFolderWhenDone(const QString &confPath);
// Keeps the other keys of the file; false when it could not be written.
bool writeOpenFolderWhenDone(const QString &confPath, bool open);

} // namespace zm
