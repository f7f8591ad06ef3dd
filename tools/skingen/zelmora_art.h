// The skin of the audio extractor: three borderless windows, their hover
// and press pictures, the pointer, the icon and the finish chime.
#pragma once

#include <QPainter>
#include <QRect>
#include <QString>
#include <QStringList>

#include <utility>

namespace skin::zelmora {

// Hot spots of the main window (design pixels of the client area).
inline const QRect kHelp(635, 8, 15, 15);
inline const QRect kMin(652, 9, 14, 14);
inline const QRect kExit(672, 10, 15, 15);
inline const QRect kMenu[3] = {{18, 31, 40, 15}, {60, 31, 59, 15}, {122, 31, 51, 15}};
inline const int kToolbarLeft[6] = {16, 103, 190, 277, 364, 451};
inline const int kToolbarIndex[6] = {0, 6, 1, 2, 3, 4}; // control index, left to right
inline const QRect kList(17, 160, 455, 274);
inline const int kComboTop[4] = {158, 200, 244, 286}; // cmbOF, cmbBR, cmbR, cmbChannel
inline const QRect kPath(488, 330, 143, 23);
inline const QRect kBrowse(635, 331, 42, 22);
inline const QRect kConvert(489, 371, 187, 91);
inline const QRect kProgress(113, 447, 361, 13);
inline const QRect kArrow0(657, 160, 19, 19);

// Options window.
inline const QRect kOptOK(166, 136, 58, 18);
inline const QRect kOptBack(246, 136, 58, 18);
inline const QRect kOptExit(299, 11, 15, 15);
inline const QRect kOptArrow(290, 35, 19, 19);

// Feedback window.
inline const QRect kSugSend(166, 136, 58, 18);
inline const QRect kSugBack(246, 136, 58, 18);
inline const QRect kSugExit(300, 11, 15, 15);

// The badges of the format list, one per kind of format: format_lossy.png, ...
enum class FormatKind { Lossy, Lossless, Speech };
inline constexpr std::pair<FormatKind, const char *> kFormatBadges[] = {
    {FormatKind::Lossy, "lossy"},
    {FormatKind::Lossless, "lossless"},
    {FormatKind::Speech, "speech"}};

// Draws every picture into `dir` at 1x and 2x, plus sound.wav; returns the
// names of the PNG files written (for the resource file).
QStringList generate(const QString &dir);

// The application icon on its 256 x 256 design canvas (the window icon's picture).
void paintAppIcon(QPainter &p);

} // namespace skin::zelmora
