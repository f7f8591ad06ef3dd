// The windows on a screen too small for their designed size at the user's scale: the program
// starts as the real one does (batch::makeFittedApplication) under QT_SCALE_FACTOR=2 on the offscreen
// platform's 800 x 600 screen, and its windows are scaled down and placed on the screen.
#include "feedbackwindow/frmsuggest.h"
#include "gui/screenfit.h"
#include "shell/frmoptions.h"
#include "skin/skin.h"
#include "zelmora/windowutil.h"

#include <QScreen>
#include <gtest/gtest.h>

using namespace zm;

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
    const std::unique_ptr<QApplication> app = batch::makeFittedApplication(argc, argv, QSize(698, 496));
    SkinH_Attach(app.get());
    return RUN_ALL_TESTS();
}
