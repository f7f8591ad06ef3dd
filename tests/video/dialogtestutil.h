#pragma once

// Options of a dialog under test: a private application folder with the fake converter, the
// scripted message boxes (which also collect the desktop notifications), a quick tick and no
// pause between files; and a test fixture with such a dialog shown.

#include "ui/cvideodlg.h"
#include "video/videotestutil.h"

#include <QDir>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

inline vidrune::CvideoDlg::Options QuickDialogOptions(FakeAppFolder &app, ScriptedPrompts &prompts,
                                                      bool browser = false)
{
    vidrune::CvideoDlg::Options o;
    o.appFolder = app.Path();
    o.outputFolder = app.File("out");
    o.tickMs = 50;
    o.pauseMs = 0;
    o.prompts = &prompts;
    o.browser = browser;
    o.notify = [&prompts](const QString &text) { prompts.notifications << text; };
    QDir().mkpath(o.outputFolder);
    return o;
}

// A dialog shown on the screen with those options.
class ShownDialogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(app.IsValid());
        dlg = std::make_unique<vidrune::CvideoDlg>(QuickDialogOptions(app, prompts));
        dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    }
    void TearDown() override { dlg.reset(); }

    QPushButton *Button(int id) { return qobject_cast<QPushButton *>(dlg->Control(id)); }

    FakeAppFolder app;
    ScriptedPrompts prompts;
    std::unique_ptr<vidrune::CvideoDlg> dlg;
};
