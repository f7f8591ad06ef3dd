#include "skin/focusmark.h"

namespace zm {

// The violet of the skin's Convert, OK and Send buttons.
const QColor FocusMark::kColour(0x6b, 0x5b, 0xf6);

FocusMark::FocusMark(QWidget *window) : batch::FocusMark(window, {kColour, kMargin, kWidth}) {}

} // namespace zm
