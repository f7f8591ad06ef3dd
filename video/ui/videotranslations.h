#pragma once

class QCoreApplication;

namespace vidrune {

// Qt's own texts (standard buttons, file dialogs) in Chinese, like the rest of the dialog:
// Qt's qtbase_zh_CN catalogue from Qt's translations folder, and zh_CN as the default locale.
namespace VideoTranslations {
// False when the catalogue is missing (Qt's texts then stay English).
bool Install(QCoreApplication &app);
} // namespace VideoTranslations

} // namespace vidrune
