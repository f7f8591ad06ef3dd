// The dialog on a screen too small for its designed size at the user's scale: the program's
// start (batch::makeFittedApplication) under QT_SCALE_FACTOR=2 on the offscreen platform's 800 x
// 600 screen scales it down so that it fits, title bar included, and places it on the screen.
#include "gui/screenfit.h"
#include "ui/cvideodlg.h"
#include "ui/dg3.h"
#include "ui/dialogunits.h"
#include "video/dialogtestutil.h"

#include <QScreen>
#include <gtest/gtest.h>

using namespace vidrune;

TEST(VideoScreenFit, AtScaleTwoTheDialogIsScaledDownOntoTheScreen)
{
    EXPECT_EQ(qgetenv("QT_SCALE_FACTOR"), QByteArray("2"))
        << "vv and xdg-open see the user's scale";
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LT(qApp->devicePixelRatio(), 2.0) << "scaled down";
    // Only as far as it must be: the dialog with its frame is nearly as wide as the screen.
    const QScreen *screen = QGuiApplication::primaryScreen();
    const double screenPixels = screen->geometry().width() * screen->devicePixelRatio();
    EXPECT_GT((DialogUnits::MainWidth + 8) * qApp->devicePixelRatio(), 0.98 * screenPixels)
        << qApp->devicePixelRatio();
    FakeAppFolder app;
    ASSERT_TRUE(app.IsValid());
    ScriptedPrompts prompts;
    CvideoDlg dlg(QuickDialogOptions(app, prompts));
    EXPECT_EQ(dlg.size(), QSize(DialogUnits::MainWidth, DialogUnits::MainHeight));
    // The dialog and a title bar of 40 pixels fit; placed as the program places it.
    EXPECT_LE(dlg.width() + 8, available.width());
    EXPECT_LE(dlg.height() + 40, available.height());
    dlg.move(batch::placeOn(available, dlg.frameGeometry().size()));
    dlg.show();
    EXPECT_TRUE(available.contains(dlg.frameGeometry()));
    Dg3 about(&dlg);
    about.show();
    EXPECT_TRUE(available.contains(about.frameGeometry()));
}

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", state.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", state.filePath("config").toUtf8());
    qputenv("XDG_CACHE_HOME", state.filePath("cache").toUtf8());
    qputenv("QT_SCALE_FACTOR", "2");
    const std::unique_ptr<QApplication> app = batch::makeFittedApplication(
        argc, argv, QSize(DialogUnits::MainWidth, DialogUnits::MainHeight), QSize(8, 40));
    return RUN_ALL_TESTS();
}
