// Review aids: the backgrounds with stand-ins for the standard controls laid
// over them at their designed positions, to judge the layout by eye.
#pragma once

#include <QString>

namespace skin {

bool mockVideo(const QString &videoDir, const QString &out);
bool mockZelmora(const QString &zelmoraDir, const QString &out);

} // namespace skin
