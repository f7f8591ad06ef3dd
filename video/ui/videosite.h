#pragma once

#include <QString>
#include <QUrl>

namespace vidrune {

// Our own addresses shown by the dialogs.
namespace VideoSite {

// The page of the band across the top of the main dialog: a small page shipped with the
// program; VIDEO_PAGE_URL replaces it (for example with a page of the project's web site).
inline constexpr const char *PageEnvironment = "VIDEO_PAGE_URL";
inline constexpr const char *DefaultPage = "qrc:/video-page/index.html";
QUrl PageUrl();

// Set (to anything but "0") to leave the band empty: no browser is created.
inline constexpr const char *NoBrowserEnvironment = "VIDEO_NO_BROWSER";
bool BrowserDisabled();

// The contact line of the About dialog.
inline const QString ContactAddress = QStringLiteral("video@zelmora.net");

} // namespace VideoSite

} // namespace vidrune
