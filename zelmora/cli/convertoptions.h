#pragma once
#include "engine/batchdriver.h"
#include "engine/programsettings.h"
#include "library/librarywork.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace zm::cli {

// What a convert run starts from before its options: the choices the window saved (setup.ini
// and options.ini of this copy), or the window's first-start choices when none were saved.
struct SavedChoices {
    Selections selections;    // format, bit rate, sample rate, channels, output folder
    ProgramSettings settings; // the Music Cutter
    QStringList readFrom;     // the files the choices came from (empty: none was saved)
};

// Reads the saved choices of the copy of zelmora in `appDir`.
SavedChoices readSavedChoices(const QString &appDir);

// The options of `zelmora-cli [convert] [OPTIONS] FILE|FOLDER...`.
struct ConvertOptions {
    Selections selections;
    ProgramSettings settings;
    QStringList inputs; // as given (files and folders)
    int jobs = 1;
    bool json = false;
    bool mirror = false;     // files found in a folder keep their path below it
    bool copyCovers = false; // cover images go into the mirrored folders
    ExistingPolicy existing = ExistingPolicy::Update;
    int retries = 0; // tries again for each failed file
    bool trashOriginals = false;
    ReplayGain replayGain = ReplayGain::Off; // --replaygain track|album
    std::optional<double> normalize;         // --normalize LUFS
    QString root;                            // plan: the folder job paths are relative to (empty: the current one)
    bool help = false;
    bool version = false;
    QStringList notes;  // said on standard error before the batch ("--bitrate is for MP3 only")
    QStringList errors; // bad usage: each "zelmora-cli: ..."; the run ends with 2
};

// Parses `arguments` (without the program and the command name) over `saved`. Every choice of
// the window has an option; an option not given keeps the saved choice. `cores` is the
// default of --jobs.
// `plan` takes --root too.
ConvertOptions parseConvertOptions(const QStringList &arguments, const SavedChoices &saved, int cores,
                                   const QString &program = QStringLiteral("zelmora-cli"), bool plan = false);

// The usage text of the convert command, exit codes included.
QString convertUsage(const QString &program);
// The options both texts share: the choices and the library options.
QString choiceOptionsUsage();

// The format names the options take ("mp3" ... "opus"), by format index.
QStringList formatNames();

} // namespace zm::cli
