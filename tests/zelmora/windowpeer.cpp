// The main window on a batch, for the tests that kill it mid-batch: `zm_window_peer APPDIR
// INPUT...` opens the window of the program in APPDIR (offscreen in the tests), queues the
// inputs, presses Convert and ends when the batch has.
#include "shell/frmmain.h"

#include <QApplication>
#include <QDialog>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 3)
        return 2;
    zm::ProgramSettings settings;
    zm::frmMain window(args.at(1), zm::UiSeams{}, settings);
    // Nothing is expected to ask: a question left unanswered is a cancel.
    window.runDialog = [](QDialog &) {};
    for (const QString &input : args.mid(2))
        window.AddQueueEntry(input);
    QObject::connect(&window.batch(), &zm::BatchDriver::batchFinished, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    window.imgStart_Click();
    if (!window.batch().isRunning())
        return 1;
    return QApplication::exec();
}
