#pragma once

// Options of a dialog under test: a private application folder with the fake converter, the
// scripted message boxes (which also collect the desktop notifications), a quick tick and no
// pause between files.

#include "cvideodlg.h"
#include "videotestutil.h"

#include <QDir>

inline CvideoDlg::Options QuickDialogOptions(FakeAppFolder &app, ScriptedPrompts &prompts,
                                             bool browser = false)
{
    CvideoDlg::Options o;
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
