// Checks of the generated skins: sizes of every picture, the colour key of
// the borderless windows, seams between hover pictures and backgrounds,
// the masks and the chime. Returns the list of problems (empty when fine).
#pragma once

#include <QString>
#include <QStringList>

namespace skin {

QStringList verifyZelmora(const QString &dir);
QStringList verifyVideo(const QString &dir);

} // namespace skin
