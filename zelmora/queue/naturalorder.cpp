#include "queue/naturalorder.h"

#include <QCollator>
#include <QFile>
#include <QLocale>
#include <algorithm>
#include <sys/stat.h>

namespace zm {

bool naturalLess(const QString &a, const QString &b)
{
    thread_local const QCollator collator = [] {
        // The C locale collates by code point only (no numeric mode); file managers sort by
        // the user's language, English when none is set.
        const QLocale system = QLocale::system();
        QCollator c(system.language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates) : system);
        c.setNumericMode(true);
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    const int r = collator.compare(a, b);
    if (r != 0)
        return r < 0;
    return a < b;
}

void sortNaturally(QStringList &names)
{
    std::stable_sort(names.begin(), names.end(), naturalLess);
}

bool isRegularFile(const QString &path)
{
    struct stat st;
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace zm
