#include "settings/settingsstore.h"

namespace zm {

MainChoices SettingsStore::readChoices(bool *found) const
{
    MainChoices c;
    c.outputFolder = m_state.defaultOutputFolder();
    bool exists = false;
    const QByteArray setup = readSettingsBytes(m_state.setupIni(), &exists);
    if (exists)
        applySetupIni(setup, c);
    if (c.outputFolder.isEmpty())
        c.outputFolder = m_state.defaultOutputFolder();
    if (found)
        *found = exists;
    return c;
}

bool SettingsStore::writeChoices(const MainChoices &choices) const
{
    makeFolderFor(m_state.setupIni());
    return writeSetupIni(m_state.setupIni(), choices);
}

bool SettingsStore::readOptions(ProgramSettings &settings) const
{
    bool exists = false;
    const QByteArray options = readSettingsBytes(m_state.optionsIni(), &exists);
    if (!exists) {
        settings.gSoundReminder = 0;
        settings.gCutterOn = 0;
        return false;
    }
    applyOptionsIni(options, settings);
    return true;
}

bool SettingsStore::writeJobs(JobsChoice choice) const
{
    makeFolderFor(m_state.jobsConf());
    return writeJobsSetting(m_state.jobsConf(), choice);
}

bool SettingsStore::writeOpenFolderWhenDone(bool open) const
{
    makeFolderFor(m_state.jobsConf());
    return zm::writeOpenFolderWhenDone(m_state.jobsConf(), open);
}

bool SettingsStore::writeBatchOptions(const BatchOptions &options) const
{
    makeFolderFor(m_state.jobsConf());
    return zm::writeBatchOptions(m_state.jobsConf(), options);
}

} // namespace zm
