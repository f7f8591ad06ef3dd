#pragma once
#include "gui/focusmark.h"

namespace zm {

// The keyboard focus mark of zelmora's windows (batch::FocusMark): the skin's violet with a
// white inner line, so that it shows on the white panels and on the dark title and button bars
// alike, 2 pixels from the control.
class FocusMark final : public batch::FocusMark
{
    Q_OBJECT
public:
    // Follows the focus among the children of `window`, on which it lies.
    explicit FocusMark(QWidget *window);

    static constexpr int kMargin = 2;
    static constexpr int kWidth = 2;
    static const QColor kColour;
};

} // namespace zm
