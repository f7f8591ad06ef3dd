// The skinned bitmap button, the About dialog and the page band.
#include "ui/ccontrolbutton.h"
#include "ui/cexplorer1.h"
#include "ui/cvideodlg.h"
#include "ui/dg3.h"
#include "suite/version.h"
#include "ui/videosite.h"
#include "video/dialogtestutil.h"

#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <gtest/gtest.h>

using namespace vidrune;

namespace {

constexpr QSize ButtonSize(35, 20);

QImage Solid(QRgb colour, QSize size = ButtonSize)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QImage Noise(QSize size, quint32 seed)
{
    QRandomGenerator rng(seed);
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, 0xff000000u | (rng.generate() & 0xffffffu));
    return image;
}

// An image with a coloured disc on white, and the mask of that disc (black inside).
void Disc(QRgb colour, QImage *image, QImage *mask)
{
    *image = Solid(0xffffffff);
    *mask = Solid(0xffffffff);
    for (int y = 0; y < ButtonSize.height(); ++y) {
        for (int x = 0; x < ButtonSize.width(); ++x) {
            const int dx = x - 17, dy = y - 10;
            if (dx * dx + dy * dy <= 64) {
                image->setPixel(x, y, colour);
                mask->setPixel(x, y, 0xff000000u);
            }
        }
    }
}

bool SamePixels(const QImage &a, const QImage &b)
{
    return a.convertToFormat(QImage::Format_RGB32) == b.convertToFormat(QImage::Format_RGB32);
}

struct ButtonHost {
    QWidget owner;
    CControlButton *button;
    ButtonHost()
    {
        owner.resize(200, 100);
        button = new CControlButton("b", &owner);
        button->setGeometry(QRect(QPoint(30, 40), ButtonSize));
    }
};

} // namespace

TEST(CControlButton, DrawingCases)
{
    const QImage normal = Noise(ButtonSize, 1), hover = Noise(ButtonSize, 2),
                 pressed = Noise(ButtonSize, 3), fourth = Noise(ButtonSize, 4);
    const QImage background = Noise(QSize(200, 100), 5);
    const QImage piece = background.copy(QRect(QPoint(30, 40), ButtonSize));
    QImage discImage, discMask;
    Disc(0xff3366cc, &discImage, &discMask);
    // Expected with the disc mask: the background around the disc, the disc colour inside.
    QImage discOverBackground = piece;
    for (int y = 0; y < ButtonSize.height(); ++y)
        for (int x = 0; x < ButtonSize.width(); ++x)
            if (discMask.pixel(x, y) == 0xff000000u)
                discOverBackground.setPixel(x, y, 0xff3366cc);

    enum Mask { NoMask, AllBlack, DiscMask };
    struct Case {
        const char *name;
        Mask mask;
        bool hovering;
        bool down;
        QImage expected;
    };
    const Case cases[] = {
        {"no mask: normal image unchanged", NoMask, false, false, normal},
        {"no mask: hover image", NoMask, true, false, hover},
        {"no mask: pressed over hover", NoMask, true, true, pressed},
        {"no mask: pressed over normal", NoMask, false, true, pressed},
        {"all-black mask covers the button", AllBlack, false, false, normal},
        {"all-black mask, hover", AllBlack, true, false, hover},
        {"all-black mask, pressed", AllBlack, true, true, pressed},
        {"shaped mask leaves the background around it", DiscMask, false, false, discOverBackground},
    };
    for (const Case &c : cases) {
        ButtonHost host;
        if (c.mask == DiscMask)
            host.button->SetImages(discImage, discImage, discImage, discImage);
        else
            host.button->SetImages(hover, normal, pressed, fourth);
        if (c.mask == AllBlack)
            host.button->SetBackground(background, Solid(0xff000000u));
        else if (c.mask == DiscMask)
            host.button->SetBackground(background, discMask);
        if (c.hovering)
            host.button->OnMouseHover();
        host.button->setDown(c.down);
        EXPECT_TRUE(SamePixels(host.button->Render(), c.expected)) << c.name;
        // What the widget paints is the same picture.
        host.owner.show();
        EXPECT_TRUE(SamePixels(host.button->grab().toImage(), c.expected)) << c.name;
    }
}

TEST(CControlButton, AllBlackMaskIgnoresWhateverTheBackgroundHolds)
{
    const QImage normal = Noise(ButtonSize, 9);
    for (quint32 seed : {11u, 12u, 13u}) {
        ButtonHost host;
        host.button->SetImages(normal, normal, normal, normal);
        host.button->SetBackground(Noise(QSize(200, 100), seed), Solid(0xff000000u));
        EXPECT_TRUE(SamePixels(host.button->Render(), normal)) << seed;
    }
}

TEST(CControlButton, BackgroundRectIsTheButtonInOwnerCoordinates)
{
    ButtonHost host;
    host.button->SetBackground(Solid(0xff00ff00u, QSize(200, 100)), Solid(0xff000000u));
    EXPECT_EQ(host.button->BackgroundRect(), QRect(QPoint(30, 40), ButtonSize));
    EXPECT_TRUE(host.button->UsesMask());
}

TEST(CControlButton, HoverTracking)
{
    ButtonHost host;
    host.owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host.owner));
    CControlButton &b = *host.button;
    struct Step {
        const char *what;
        std::function<void()> act;
        bool tracking;
        bool hovering;
    };
    const QList<Step> steps{
        {"start", [] {}, false, false},
        {"move onto the button", [&] { b.OnMouseMove(); }, true, false},
        {"rest: hover notice", [&] { QTest::qWait(30); }, true, true},
        {"move again: no new request", [&] { b.OnMouseMove(); }, true, true},
        {"leave", [&] { b.OnMouseLeave(); }, false, false},
        {"leave before the hover notice",
         [&] {
             b.OnMouseMove();
             b.OnMouseLeave();
             QTest::qWait(30);
         },
         false, false},
        {"real mouse move",
         [&] {
             QTest::mouseMove(&b, QPoint(5, 5));
             QTest::qWait(30);
         },
         true, true},
    };
    for (const Step &s : steps) {
        s.act();
        EXPECT_EQ(b.Tracking(), s.tracking) << s.what;
        EXPECT_EQ(b.Hovering(), s.hovering) << s.what;
    }
}

TEST(CControlButton, TheThreeInstancesExistHiddenWithTheirClicks)
{
    ScriptedPrompts prompts;
    FakeAppFolder app;
    CvideoDlg::Options o;
    o.appFolder = app.Path();
    o.prompts = &prompts;
    o.browser = false;
    CvideoDlg dlg(o);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    struct Row {
        CControlButton *button;
        const char *text;
        QRect rect;
    } rows[] = {
        {dlg.MinimizeButton(), "最小", {712, 5, 35, 21}},
        {dlg.CloseButton(), "关闭", {751, 5, 35, 21}},
    };
    for (const Row &r : rows) {
        ASSERT_NE(r.button, nullptr);
        EXPECT_FALSE(r.button->isVisible()) << r.text;
        EXPECT_EQ(r.button->text(), QString::fromUtf8(r.text));
        EXPECT_EQ(r.button->geometry(), r.rect);
        EXPECT_EQ(r.button->BackgroundRect(), r.rect);
        EXPECT_TRUE(r.button->UsesMask());
        // Its picture is the normal image (all-black mask), not an empty one.
        const QImage picture = r.button->Render();
        EXPECT_FALSE(picture.isNull());
    }
    Dg3 about(&dlg);
    ASSERT_NE(about.CloseButton(), nullptr);
    EXPECT_FALSE(about.CloseButton()->isVisible());
    EXPECT_EQ(about.CloseButton()->geometry(), QRect(329, 4, 39, 19));
    // Clicks: the close buttons close their dialogs.
    about.show();
    about.CloseButton()->click();
    EXPECT_TRUE(testsupport::waitFor([&] { return !about.isVisible(); }, 2000));
    dlg.CloseButton()->click();
    EXPECT_TRUE(testsupport::waitFor([&] { return !dlg.isVisible(); }, 2000));
}

TEST(Dg3, TemplateTextsAndClosingByTheTitleBar)
{
    Dg3 about;
    EXPECT_EQ(about.windowTitle(), "关于");
    EXPECT_EQ(about.size(), QSize(453, 220));
    QStringList texts;
    for (QLabel *l : about.findChildren<QLabel *>())
        texts << l->text();
    EXPECT_TRUE(texts.contains("E-mail:"));
    EXPECT_TRUE(texts.contains(VideoSite::ContactAddress));
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    about.close(); // what the title bar's close box does
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Rejected);
}

TEST(Dg3, TheAboutDialogShowsThePackageVersion)
{
    Dg3 about;
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    auto *version = about.findChild<QLabel *>("version");
    ASSERT_NE(version, nullptr);
    EXPECT_TRUE(version->isVisible());
    EXPECT_TRUE(version->text().contains(ZM_PACKAGE_VERSION)) << version->text().toStdString();
    // All of it inside the dialog, clear of the contact lines above it.
    const QRect shown(version->pos(),
                      QSize(version->fontMetrics().horizontalAdvance(version->text()),
                            version->fontMetrics().height()));
    EXPECT_TRUE(about.rect().contains(shown));
    EXPECT_LE(shown.right(), version->geometry().right()) << "the text is not cut";
    for (QLabel *other : about.findChildren<QLabel *>()) {
        if (other != version && other->isVisible()) {
            EXPECT_FALSE(other->geometry().intersects(version->geometry()))
                << other->text().toStdString();
        }
    }
}

TEST(Dg3, AboutDuringABatchDoesNotStopIt)
{
    qputenv("FAKE_VV_SLOW_MS", "1600");
    FakeAppFolder app;
    ASSERT_TRUE(app.IsValid());
    ScriptedPrompts prompts;
    const CvideoDlg::Options o = QuickDialogOptions(app, prompts);
    CvideoDlg dlg(o);
    for (const char *n : {"b.flv", "slow-a.flv"}) {
        ASSERT_TRUE(Touch(app.File(QString("in/") + n)));
        dlg.FileList().InsertAt(0, app.File(QString("in/") + n));
    }
    dlg.show();
    dlg.OnConvert();
    QStringList seen;
    bool finishedBehind = false;
    QTimer watch;
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const QString s = dlg.FileList().Status(0);
        if (seen.isEmpty() || seen.last() != s)
            seen << s;
        if (!dlg.Batch().IsBusy()) {
            finishedBehind = true;
            if (auto *about = dlg.findChild<Dg3 *>())
                about->close();
        }
    });
    watch.start();
    QTimer::singleShot(15000, [&] {
        if (auto *about = dlg.findChild<Dg3 *>())
            about->close();
    });
    dlg.OnAbout(); // modal until closed
    watch.stop();
    EXPECT_TRUE(finishedBehind) << "the batch did not finish behind the About dialog";
    EXPECT_GE(seen.size(), 3) << "statuses did not keep updating";
    EXPECT_EQ(dlg.FileList().Status(0), "已完成");
    EXPECT_EQ(dlg.FileList().Status(1), "已完成");
}

TEST(CExplorer1, DisabledBrowserLeavesAnEmptyBandAndTheDialogStillConverts)
{
    qputenv(VideoSite::NoBrowserEnvironment, "1");
    FakeAppFolder app;
    ScriptedPrompts prompts;
    // The browser is allowed, but switched off by the environment.
    const CvideoDlg::Options o = QuickDialogOptions(app, prompts, true);
    CvideoDlg dlg(o);
    EXPECT_FALSE(dlg.Browser()->HasBrowser());
    EXPECT_EQ(dlg.Browser()->LastAddress(), VideoSite::PageUrl()) << "navigated once anyway";
    EXPECT_EQ(dlg.Browser()->geometry(), QRect(7, 30, 782, 80));
    ASSERT_TRUE(Touch(app.File("in/a.flv")));
    dlg.FileList().InsertAt(0, app.File("in/a.flv"));
    dlg.OnConvert();
    ASSERT_TRUE(testsupport::waitFor([&] { return !dlg.Batch().IsBusy(); }));
    EXPECT_EQ(dlg.FileList().Status(0), "已完成");
    qunsetenv(VideoSite::NoBrowserEnvironment);
}

TEST(VideoSite, PageAddressAndItsOverride)
{
    qunsetenv(VideoSite::PageEnvironment);
    EXPECT_EQ(VideoSite::PageUrl(), QUrl("qrc:/video-page/index.html"));
    EXPECT_TRUE(QFile::exists(":/video-page/index.html")) << "the local page must ship";
    qputenv(VideoSite::PageEnvironment, "http://127.0.0.1:8080/2wm201029dtt.html");
    EXPECT_EQ(VideoSite::PageUrl(), QUrl("http://127.0.0.1:8080/2wm201029dtt.html"));
    qunsetenv(VideoSite::PageEnvironment);
}
