#pragma once
// A main window on a temporary application folder with every desktop seam recorded.
#include "shell/frmexisting.h"
#include "shell/frmfailures.h"
#include "shell/frmmain.h"
#include "zelmora/testutil.h"

#include <QCheckBox>
#include <QDialog>
#include <QEventLoop>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <memory>

namespace zmtest {

struct Harness {
    explicit Harness(bool withConverter = true) : app(withConverter)
    {
        qputenv("FAKECONV_LOG", app.log().toUtf8());
        qputenv("XDG_STATE_HOME", (app.path + QStringLiteral("/state")).toUtf8());
    }
    QString logsRoot() const { return app.path + QStringLiteral("/state/zelmora/logs"); }
    // The window of the program in `appDir` (the temporary application folder by default).
    void open(const QString &appDir = QString())
    {
        window = std::make_unique<zm::frmMain>(appDir.isEmpty() ? app.path : appDir,
                                               zm::UiSeams{&boxes, &shell, &sound, &files}, settings);
        window->runDialog = [this](QDialog &d) {
            ++dialogs;
            if (onDialog)
                onDialog(d);
        };
        window->runPopup = [this](QMenu &m, const QPoint &) { popups << m.title(); };
    }
    // Presses Convert and waits until the batch is over (or `timeoutMs` passed).
    bool runBatch(int timeoutMs = 20000)
    {
        QEventLoop loop;
        bool finished = false;
        QObject::connect(&window->batch(), &zm::BatchDriver::batchFinished, &loop, [&] {
            finished = true;
            loop.quit();
        });
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        window->imgStart_Click();
        if (!window->batch().isRunning())
            return false;
        loop.exec();
        return finished;
    }
    QString out(const QString &name) const { return app.path + QStringLiteral("/output/") + name; }

    // What the failures windows of the batches showed: how many opened, their rows, and the
    // progress caption each time one opened.
    struct FailuresSeen {
        int windows = 0;
        QStringList rows;
        QString captionAtWindow;
    };
    void watchFailures(FailuresSeen &seen)
    {
        onDialog = [this, &seen](QDialog &d) {
            auto *f = qobject_cast<zm::frmFailures *>(&d);
            if (!f)
                return;
            ++seen.windows;
            seen.captionAtWindow = window->lblPB()->text();
            for (int i = 0; i < f->list()->count(); ++i)
                seen.rows << f->list()->item(i)->text();
        };
    }

    // Answers the question about outputs that exist already (and only it) with `choice`
    // (Ask: Cancel), ticking "Remember my choice" when asked to; each question's text is kept.
    void answerExisting(zm::ExistingChoice choice, bool remember = false)
    {
        onDialog = [this, choice, remember](QDialog &d) {
            auto *q = qobject_cast<zm::frmExisting *>(&d);
            if (!q)
                return;
            existingAsked << q->message()->text();
            q->rememberBox()->setChecked(remember);
            q->button(choice)->click();
        };
    }
    // Answers "The last batch did not finish: ..." with the button captioned `answer`.
    void answerUnfinished(const QString &answer)
    {
        onDialog = [this, answer](QDialog &d) {
            auto *box = qobject_cast<QMessageBox *>(&d);
            if (!box || box->objectName() != QLatin1String("unfinishedBatch"))
                return;
            unfinishedAsked << box->text();
            for (QAbstractButton *b : box->buttons())
                if (b->text() == answer)
                    b->click();
        };
    }

    FakeApp app;
    RecordingBoxes boxes;
    RecordingShell shell;
    RecordingSound sound;
    ScriptedFiles files;
    zm::ProgramSettings settings;
    std::unique_ptr<zm::frmMain> window;
    int dialogs = 0;
    std::function<void(QDialog &)> onDialog;
    QStringList popups;
    QStringList existingAsked;   // the texts of the questions about existing outputs
    QStringList unfinishedAsked; // the texts of the offers to continue a batch
};

} // namespace zmtest
