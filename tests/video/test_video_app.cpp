// The application as started from a menu or a file manager: the command line's files, the
// remembered output folder, and the program's answers on its standard streams.
#include "core/statelocations.h"
#include "ui/cvideoapp.h"
#include "suite/version.h"
#include "ui/cvideodlg.h"
#include "video/videotestutil.h"

#include <QApplication>
#include <QLineEdit>
#include <QProcess>
#include <QTimer>
#include <gtest/gtest.h>

using namespace vidrune;

TEST(VideoApp, FilesOfTheCommandLineAreAddedAndTheFolderIsRemembered)
{
    // Started with files, the dialog opens with them as one multiple choice would add them.
    const QStringList files{"/v/first.avi", "/v/second.mkv", "/v/third.mp4"};
    QStringList shown;
    QString outputBox;
    QTimer::singleShot(0, [&] {
        auto *dlg = qobject_cast<CvideoDlg *>(QApplication::activeModalWidget());
        if (!dlg)
            return;
        shown = dlg->FileList().Paths();
        outputBox = dlg->OutputFolderBox()->text();
        dlg->OutputFolderBox()->setText(QDir::tempPath());
        dlg->close();
    });
    qputenv("VIDEO_NO_BROWSER", "1");
    CvideoApp().Run(files);
    qunsetenv("VIDEO_NO_BROWSER");
    EXPECT_EQ(shown, (QStringList{"/v/third.mp4", "/v/second.mkv", "/v/first.avi"}));
    EXPECT_EQ(outputBox, QDir::homePath()) << "nothing remembered yet";
    // This test's folder is writable, so the program counts as portable.
    const QString settings = StateLocations::SettingsFile(true);
    EXPECT_EQ(StateLocations::LoadOutputFolder(settings), QDir::tempPath());
    QFile::remove(settings);
}

TEST(VideoProgram, CommandLineAnswersAndReportsWhatItSkips)
{
    const QString missing = QDir::tempPath() + "/no such dir/不在.avi";
    struct Row {
        QStringList args;
        int exitCode; // -1: the dialog opens (and is ended by the test)
        QString out, err;
    } rows[] = {
        {{"--version"}, 0, "Vidrune (" ZM_PACKAGE_NAME ") " ZM_PACKAGE_VERSION "\n", ""},
        {{"--help"}, 0, "usage: video [FILE...]\n", ""},
        {{"--bogus"}, 2, "", "video: unknown option --bogus\nusage: video [FILE...]\n"},
        {{missing}, -1, "", "video: " + missing + ": no such file, skipped\n"},
    };
    for (const Row &r : rows) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("VIDEO_NO_BROWSER", "1");
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(VIDEO_PATH), r.args);
        ASSERT_TRUE(p.waitForStarted()) << r.args.join(' ');
        QByteArray err;
        if (r.exitCode < 0) {
            ASSERT_TRUE(testsupport::waitFor(
                [&] {
                    err += p.readAllStandardError();
                    return QString::fromUtf8(err).contains(r.err)
                           || p.state() == QProcess::NotRunning;
                },
                30000));
            EXPECT_EQ(p.state(), QProcess::Running) << "the dialog opens all the same";
            p.terminate();
            p.waitForFinished();
        } else {
            ASSERT_TRUE(p.waitForFinished(30000));
            EXPECT_EQ(p.exitCode(), r.exitCode) << r.args.join(' ');
            err = p.readAllStandardError();
        }
        const QString stdErr = QString::fromUtf8(err);
        // Qt may add its own warnings; ours come as whole lines.
        EXPECT_TRUE(stdErr.contains(r.err)) << stdErr;
        const QString stdOut = QString::fromUtf8(p.readAllStandardOutput());
        EXPECT_TRUE(r.out.isEmpty() ? stdOut.isEmpty() : stdOut.startsWith(r.out))
            << r.args.join(' ') << ": " << stdOut;
    }
}
