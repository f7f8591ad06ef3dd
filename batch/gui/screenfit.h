#pragma once
#include <QApplication>
#include <QRect>
#include <QSize>
#include <memory>

namespace batch {

// The scale at which a window of `design` size (logical pixels, at the scale `current`) fits
// `available` (logical pixels at that scale): `current` when it fits already, otherwise
// current × the share of it that fits, rounded down to hundredths. Never above `current`.
double fittingScale(QSize design, QSize available, double current);

// The application, made so that a window of `design` size (and `frame` around it for the window
// manager's decorations) fits the available area of the primary screen. When at the scale the
// desktop and QT_SCALE_FACTOR give it would not, the application is made once more with
// QT_SCALE_FACTOR lowered as far as it must be; the variable is put back afterwards, so the
// programs this one starts see the user's own. `argc` and `argv` as QApplication takes them
// (they must outlive it).
std::unique_ptr<QApplication> makeFittedApplication(int &argc, char **argv, QSize design, QSize frame = {});

// Where a window of `size` goes on `available`: centred, and moved in so that its top-left
// corner (with its title bar, or the close button of a skinned window) is always on the screen.
QPoint placeOn(const QRect &available, QSize size);

} // namespace batch
