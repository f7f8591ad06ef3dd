// The small marks of the audio extractor's skin.
#pragma once

#include "zelmora_art.h"

#include <QPainter>

namespace skin::zelmora {

// A pointing hand (32 x 32); the tip of the index finger is the hot spot (12, 2).
void paintCursor(QPainter &p);
// The badge beside an entry of the format list (16 x 16).
void paintFormatBadge(QPainter &p, FormatKind kind);
// The mark of the checked item of a popup menu (16 x 16, see-through around it).
void paintCheck(QPainter &p);

} // namespace skin::zelmora
