#include "settings/jobssetting.h"

#include <QSettings>
#include <algorithm>

namespace zm {

namespace {
const QString kKey = QStringLiteral("Batch/Jobs");
const QString kOpenFolderKey = QStringLiteral("Batch/OpenFolderWhenDone");
} // namespace

QList<JobsChoice> jobsChoices()
{
    return {JobsChoice::One, JobsChoice::Two, JobsChoice::Four, JobsChoice::AllCores};
}

QString jobsCaption(JobsChoice choice, int cores)
{
    if (choice == JobsChoice::AllCores)
        return QStringLiteral("All Cores (%1)").arg(std::max(cores, 1));
    return QString::number(int(choice));
}

int jobsFor(JobsChoice choice, int cores)
{
    return choice == JobsChoice::AllCores ? std::max(cores, 1) : int(choice);
}

QString jobsSettingText(JobsChoice choice)
{
    return choice == JobsChoice::AllCores ? QStringLiteral("all") : QString::number(int(choice));
}

JobsChoice jobsChoiceFromText(const QString &text)
{
    const QString t = text.trimmed();
    for (JobsChoice c : jobsChoices())
        if (t.compare(jobsSettingText(c), Qt::CaseInsensitive) == 0)
            return c;
    return JobsChoice::One;
}

JobsChoice readJobsSetting(const QString &confPath)
{
    const QSettings conf(confPath, QSettings::IniFormat);
    const QVariant v = conf.value(kKey);
    // A list (a value with commas) or anything but plain text is no choice.
    if (v.typeId() != QMetaType::QString)
        return JobsChoice::One;
    return jobsChoiceFromText(v.toString());
}

bool writeJobsSetting(const QString &confPath, JobsChoice choice)
{
    QSettings conf(confPath, QSettings::IniFormat);
    conf.setValue(kKey, jobsSettingText(choice));
    conf.sync();
    // A file that was not all readable is written anyway (what could be read of it is kept).
    return conf.status() != QSettings::AccessError;
}

bool readOpenFolderWhenDone(const QString &confPath)
{
    const QSettings conf(confPath, QSettings::IniFormat);
    const QVariant v = conf.value(kOpenFolderKey);
    if (v.typeId() != QMetaType::QString)
        return true;
    const QString t = v.toString().trimmed().toLower();
    return !(t == QLatin1String("false") || t == QLatin1String("0") || t == QLatin1String("no")
             || t == QLatin1String("off"));
}

bool writeOpenFolderWhenDone(const QString &confPath, bool open)
{
    QSettings conf(confPath, QSettings::IniFormat);
    conf.setValue(kOpenFolderKey, open ? QStringLiteral("true") : QStringLiteral("false"));
    conf.sync();
    return conf.status() != QSettings::AccessError;
}

} // namespace zm
