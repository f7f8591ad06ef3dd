#pragma once
#include "engine/programsettings.h"
#include "settings/batchoptions.h"
#include "settings/jobssetting.h"
#include "settings/settingsfiles.h"
#include "settings/statelocations.h"

namespace zm {

// What zelmora keeps between runs, in the files of one copy's settings folder: the window's
// choices (setup.ini), the program-wide options (options.ini) and the batch's choices in
// zelmora.conf (Simultaneous Conversions, Open Output Folder When Done). The window and
// zelmora-cli read them through this one store.
//
// A read keeps the default of whatever is missing or unusable. A write makes the folder first;
// one that fails (a read-only folder) loses only the saving and says so with false.
class SettingsStore final
{
public:
    explicit SettingsStore(const QString &appDir) : m_state(appDir) {}
    explicit SettingsStore(StateLocations state) : m_state(std::move(state)) {}

    const StateLocations &locations() const { return m_state; }

    // setup.ini over the first-start choices (the default output folder when it names none);
    // `found` says whether there was a file.
    MainChoices readChoices(bool *found = nullptr) const;
    bool writeChoices(const MainChoices &choices) const;

    // options.ini into `settings`; without the file the finish sound is on and the cutter off
    // (the times keep their values). True when there was a file.
    bool readOptions(ProgramSettings &settings) const;

    JobsChoice readJobs() const { return readJobsSetting(m_state.jobsConf()); }
    bool writeJobs(JobsChoice choice) const;
    bool readOpenFolderWhenDone() const { return zm::readOpenFolderWhenDone(m_state.jobsConf()); }
    bool writeOpenFolderWhenDone(bool open) const;
    // Keep Folder Structure, the answer about existing outputs, Move Originals to Trash.
    BatchOptions readBatchOptions() const { return zm::readBatchOptions(m_state.jobsConf()); }
    bool writeBatchOptions(const BatchOptions &options) const;

private:
    StateLocations m_state;
};

} // namespace zm
