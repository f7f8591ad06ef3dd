#include "gui/screenfit.h"

#include <QScreen>
#include <algorithm>
#include <cmath>
#include <vector>

namespace batch {

double fittingScale(QSize design, QSize available, double current)
{
    if (design.isEmpty() || available.isEmpty() || !(current > 0))
        return current;
    const double share =
        std::min(double(available.width()) / design.width(), double(available.height()) / design.height());
    if (share >= 1.0)
        return current;
    return std::max(0.1, std::floor(current * share * 100.0) / 100.0);
}

std::unique_ptr<QApplication> makeFittedApplication(int &argc, char **argv, QSize design, QSize frame)
{
    // The first application looks at the screen; Qt takes the options it knows out of the
    // arguments it is given, so it gets a copy and the second one the arguments as they came.
    static int firstArgc = 0;
    static std::vector<char *> firstArgv;
    firstArgc = argc;
    firstArgv.assign(argv, argv + argc + 1);
    auto app = std::make_unique<QApplication>(firstArgc, firstArgv.data());
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return app;
    bool ok = false;
    const QByteArray given = qgetenv("QT_SCALE_FACTOR");
    double current = given.toDouble(&ok);
    if (!ok || !(current > 0))
        current = 1.0;
    const double fitted = fittingScale(design + frame, screen->availableGeometry().size(), current);
    if (fitted >= current)
        return app;
    app.reset();
    const bool wasSet = qEnvironmentVariableIsSet("QT_SCALE_FACTOR");
    qputenv("QT_SCALE_FACTOR", QByteArray::number(fitted, 'f', 2));
    app = std::make_unique<QApplication>(argc, argv);
    if (wasSet)
        qputenv("QT_SCALE_FACTOR", given);
    else
        qunsetenv("QT_SCALE_FACTOR");
    return app;
}

QPoint placeOn(const QRect &available, QSize size)
{
    QPoint at = available.center() - QRect(QPoint(0, 0), size).center();
    // Within the screen; one larger than the screen keeps its top-left corner on it.
    at.setX(std::max(available.left(), std::min(at.x(), available.right() + 1 - size.width())));
    at.setY(std::max(available.top(), std::min(at.y(), available.bottom() + 1 - size.height())));
    return at;
}

} // namespace batch
