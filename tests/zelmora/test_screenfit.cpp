// The windows on a screen too small for their designed size at the user's scale: the program
// starts as the real one does (makeFittedApplication) under QT_SCALE_FACTOR=2 on the offscreen
// platform's 800 x 600 screen, and its windows are scaled down and placed on the screen.
#include "feedbackwindow/frmsuggest.h"
#include "shell/frmoptions.h"
#include "skin/screenfit.h"
#include "skin/skin.h"
#include "zelmora/windowutil.h"

#include <QScreen>
#include <gtest/gtest.h>

using namespace zm;

TEST(ScreenFit, TheScaleIsLoweredOnlyAsFarAsTheWindowNeeds)
{
    struct Row {
        const char *name;
        QSize design, available;
        double current, expected;
    };
    const Row rows[] = {
        {"fits", {698, 496}, {1280, 1000}, 1.0, 1.0},
        {"fits exactly", {698, 496}, {698, 496}, 2.0, 2.0},
        {"too wide at scale 2", {698, 496}, {640, 500}, 2.0, 1.83},
        {"too high", {698, 496}, {1000, 384}, 1.0, 0.77},
        {"both: the tighter one counts", {796, 454}, {400, 300}, 2.0, 1.0},
        {"never below a tenth", {698, 496}, {10, 10}, 1.0, 0.1},
        {"no screen size known", {698, 496}, {0, 0}, 1.5, 1.5},
    };
    for (const Row &r : rows)
        EXPECT_DOUBLE_EQ(fittingScale(r.design, r.available, r.current), r.expected) << r.name;
}

TEST(ScreenFit, PlacedCentredWithTheTopLeftCornerOnTheScreen)
{
    struct Row {
        const char *name;
        QRect available;
        QSize size;
        QPoint expected;
    };
    const Row rows[] = {
        {"centred", {0, 0, 1280, 1024}, {698, 496}, {291, 264}},
        {"below a panel", {0, 32, 1280, 992}, {698, 496}, {291, 280}},
        {"on a second screen", {1920, 0, 1280, 1024}, {698, 496}, {2211, 264}},
        {"wider than the screen", {0, 0, 640, 512}, {698, 496}, {0, 8}},
        {"larger than the screen", {0, 0, 640, 480}, {1396, 992}, {0, 0}},
    };
    for (const Row &r : rows)
        EXPECT_EQ(placeOn(r.available, r.size), r.expected) << r.name;
}

TEST(ScreenFit, AtScaleTwoEveryWindowIsScaledDownOntoTheScreen)
{
    // The programs zelmora starts see the scale the user gave.
    EXPECT_EQ(qgetenv("QT_SCALE_FACTOR"), QByteArray("2"));
    const QScreen *screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QRect available = screen->availableGeometry();
    EXPECT_LT(qApp->devicePixelRatio(), 2.0) << "scaled down";
    EXPECT_GT(qApp->devicePixelRatio(), 1.0) << "only as far as it must be";

    zmtest::Harness h;
    h.open();
    centreOnScreen(h.window.get());
    h.window->show();
    ProgramSettings settings;
    frmOptions options(settings, h.app.path + QStringLiteral("/options.ini"), nullptr);
    options.show();
    frmSuggest suggest(QStringLiteral("http://127.0.0.1:9"));
    suggest.show();
    for (QWidget *w :
         {static_cast<QWidget *>(h.window.get()), static_cast<QWidget *>(&options), static_cast<QWidget *>(&suggest)}) {
        EXPECT_TRUE(available.contains(w->frameGeometry())) << w->objectName().toStdString();
    }
    EXPECT_EQ(h.window->size(), QSize(698, 496)) << "the design, drawn smaller";
}

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    // What the user set, on the offscreen platform's screen of 800 x 600 pixels.
    qputenv("QT_SCALE_FACTOR", "2");
    const std::unique_ptr<QApplication> app = makeFittedApplication(argc, argv, QSize(698, 496));
    SkinH_Attach(app.get());
    return RUN_ALL_TESTS();
}
