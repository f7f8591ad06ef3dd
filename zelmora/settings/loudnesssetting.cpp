#include "settings/loudnesssetting.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace zm {

namespace {
const QString kKey = QStringLiteral("Batch/Loudness");
} // namespace

QList<double> normaliseTargets()
{
    return {-14, -16, -18, -23};
}

QString normaliseCaption(double lufs)
{
    return QString::number(lufs, 'g', 6) + QStringLiteral(" LUFS");
}

QString loudnessSettingText(const LoudnessChoice &choice)
{
    if (choice.normalize)
        return (choice.albums ? QStringLiteral("album:") : QString()) + QString::number(*choice.normalize, 'g', 6);
    return choice.tags ? QStringLiteral("tags") : QStringLiteral("off");
}

LoudnessChoice loudnessChoiceFromText(const QString &text)
{
    const QString t = text.trimmed().toLower();
    LoudnessChoice c;
    if (t == QLatin1String("tags")) {
        c.tags = true;
        return c;
    }
    const bool albums = t.startsWith(QLatin1String("album:"));
    bool ok = false;
    const double lufs = (albums ? t.mid(6) : t).toDouble(&ok);
    if (ok && normaliseTargets().contains(lufs)) {
        c.normalize = lufs;
        c.albums = albums;
    }
    return c;
}

LoudnessChoice readLoudnessSetting(const QString &confPath)
{
    const QSettings conf(confPath, QSettings::IniFormat);
    const QVariant v = conf.value(kKey);
    if (v.typeId() != QMetaType::QString)
        return {};
    return loudnessChoiceFromText(v.toString());
}

bool writeLoudnessSetting(const QString &confPath, const LoudnessChoice &choice)
{
    QDir().mkpath(QFileInfo(confPath).path());
    QSettings conf(confPath, QSettings::IniFormat);
    conf.setValue(kKey, loudnessSettingText(choice));
    conf.sync();
    return conf.status() != QSettings::AccessError;
}

} // namespace zm
