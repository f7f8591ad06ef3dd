#include "settings/batchoptions.h"

#include <QSettings>
#include <QVariant>

namespace zm {

namespace {

const QString kKeepFolders = QStringLiteral("Batch/KeepFolderStructure");
const QString kExisting = QStringLiteral("Batch/Existing");
const QString kTrash = QStringLiteral("Batch/TrashOriginals");

// On only for a plain "true" (or "1", "yes", "on"): these change where files go, so anything
// unclear leaves them off.
bool readSwitch(const QSettings &conf, const QString &key)
{
    const QVariant v = conf.value(key);
    if (v.typeId() != QMetaType::QString)
        return false;
    const QString t = v.toString().trimmed().toLower();
    return t == QLatin1String("true") || t == QLatin1String("1") || t == QLatin1String("yes")
           || t == QLatin1String("on");
}

QString switchText(bool on)
{
    return on ? QStringLiteral("true") : QStringLiteral("false");
}

} // namespace

QString existingChoiceText(ExistingChoice choice)
{
    switch (choice) {
    case ExistingChoice::Ask:
        break;
    case ExistingChoice::Replace:
        return QStringLiteral("replace");
    case ExistingChoice::Skip:
        return QStringLiteral("skip");
    case ExistingChoice::Number:
        return QStringLiteral("number");
    }
    return QStringLiteral("ask");
}

ExistingChoice existingChoiceFromText(const QString &text)
{
    const QString t = text.trimmed();
    for (ExistingChoice c : {ExistingChoice::Replace, ExistingChoice::Skip, ExistingChoice::Number})
        if (t.compare(existingChoiceText(c), Qt::CaseInsensitive) == 0)
            return c;
    return ExistingChoice::Ask;
}

BatchOptions readBatchOptions(const QString &confPath)
{
    const QSettings conf(confPath, QSettings::IniFormat);
    BatchOptions o;
    o.keepFolderStructure = readSwitch(conf, kKeepFolders);
    o.trashOriginals = readSwitch(conf, kTrash);
    const QVariant v = conf.value(kExisting);
    if (v.typeId() == QMetaType::QString)
        o.existing = existingChoiceFromText(v.toString());
    return o;
}

bool writeBatchOptions(const QString &confPath, const BatchOptions &options)
{
    QSettings conf(confPath, QSettings::IniFormat);
    conf.setValue(kKeepFolders, switchText(options.keepFolderStructure));
    conf.setValue(kExisting, existingChoiceText(options.existing));
    conf.setValue(kTrash, switchText(options.trashOriginals));
    conf.sync();
    return conf.status() != QSettings::AccessError;
}

} // namespace zm
