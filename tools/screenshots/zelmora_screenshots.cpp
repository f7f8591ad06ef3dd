// Makes the screenshots of the README: zelmora_screenshots <output folder>. It fills the main
// window's queue, starts a batch of two files at a time on a slow stand-in converter and grabs
// the window once the status strip shows the time left, then the failures window, the idle
// window with its Remove menu, the Options menu with "Simultaneous Conversions" open, the open
// format list, the feedback and the options windows. Corners outside the window's shape stay
// transparent.
#include "feedbackwindow/frmsuggest.h"
#include "shell/frmfailures.h"
#include "shell/frmoptions.h"
#include "skin/hotspot.h"
#include "skin/skin.h"
#include "zelmora/windowutil.h"

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTreeView>
#include <QComboBox>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QAbstractItemView>

namespace {

QImage render(QWidget &w)
{
    const qreal dpr = w.devicePixelRatioF();
    QImage img(w.size() * dpr, QImage::Format_ARGB32);
    img.setDevicePixelRatio(dpr);
    img.fill(Qt::transparent);
    w.render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    const QRegion shape = w.mask().isEmpty() ? QRegion(w.rect()) : w.mask();
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (!shape.contains(QPoint(int(x / dpr), int(y / dpr))))
                img.setPixel(x, y, qRgba(0, 0, 0, 0));
    return img;
}

bool save(QWidget &w, const QString &file)
{
    return render(w).save(file);
}

// Lays a grabbed popup (menu or list) with a faint shadow over a window picture at `at`.
void layPopup(QImage &img, const QPoint &at, const QImage &popup)
{
    QPainter p(&img);
    p.fillRect(QRect(at + QPoint(3, 3), popup.size() / popup.devicePixelRatio()),
               QColor(0, 0, 0, 40));
    p.drawImage(at, popup);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    zm::SkinH_Attach(&app);
    const QString outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    const QString suffix = app.devicePixelRatio() > 1 ? QStringLiteral("@2x") : QString();

    zmtest::Harness h;
    QDir videos(QStringLiteral("/tmp/zmshots/Videos"));
    videos.removeRecursively();
    videos.mkpath(QStringLiteral("."));
    const QStringList names{
        QStringLiteral("Lisbon trip - tram 28.mp4"), QStringLiteral("Concert encore.flv"),
        QStringLiteral("Interview part 1.avi"),      QStringLiteral("Interview part 2.avi"),
        QStringLiteral("Birthday song.mov"),         QStringLiteral("Podcast 042.wmv")};
    h.open();
    h.window->txtAction()->setText(QStringLiteral("menuJobs2"));
    h.window->cmbOF()->setCurrentIndex(0);
    h.window->txtPath()->setText(QStringLiteral("/tmp/zmshots/Music"));
    for (const QString &n : names) {
        QFile f(videos.filePath(n));
        f.open(QIODevice::WriteOnly);
        f.write("#fake\nerr Duration: 00:04:00.00, start: 0\nsleep 100\nraw time=120.00 \\r\nsleep "
                "4000\noutput\n");
        f.close();
        h.window->AddQueueEntry(videos.filePath(n));
    }
    h.window->applyHintRule();
    h.window->show();
    h.window->LV()->selectionModel()->select(h.window->LV()->model()->index(2, 0),
                                             QItemSelectionModel::ClearAndSelect
                                                 | QItemSelectionModel::Rows);
    bool shot = false;
    QObject::connect(&h.window->batch(), &zm::BatchDriver::statusChanged, [&](const QString &text) {
        if (!shot && text.contains(QLatin1String("left"))) {
            shot = true;
            QTimer::singleShot(100, [&] {
                save(*h.window,
                     outDir + QStringLiteral("/zelmora-main") + suffix + QStringLiteral(".png"));
                h.window->batch().stop();
            });
        }
    });
    h.onDialog = [](QDialog &) {};
    h.runBatch(15000);

    // An idle window with the six videos queued and `format` chosen, shown.
    auto showIdle = [&](zmtest::Harness &idle, int format) {
        idle.open();
        idle.window->cmbOF()->setCurrentIndex(format);
        idle.window->txtPath()->setText(QStringLiteral("/tmp/zmshots/Music"));
        for (const QString &n : names)
            idle.window->AddQueueEntry(videos.filePath(n));
        idle.window->applyHintRule();
        idle.window->show();
        QApplication::processEvents();
    };
    auto hover = [](QWidget *w) {
        QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w, &move);
    };

    // The failures window of a batch in which three files could not be converted.
    {
        QTemporaryDir logs;
        zm::BatchOutcome outcome;
        outcome.logFolder = logs.path();
        outcome.failures = {
            {videos.filePath(QStringLiteral("Holiday notes.txt")),
             QStringLiteral("conv: input is not a media file FFmpeg can read")},
            {videos.filePath(QStringLiteral("Screen recording.mkv")),
             QStringLiteral("conv: the input has no audio stream")},
            {videos.filePath(QStringLiteral("Old camera/clip 12.avi")),
             QStringLiteral("conv: cannot open input: Permission denied")},
        };
        zmtest::RecordingShell shell;
        zm::frmFailures failures(outcome, &shell);
        failures.resize(failures.width(), 260);
        failures.show();
        QApplication::processEvents();
        save(failures,
             outDir + QStringLiteral("/zelmora-failures") + suffix + QStringLiteral(".png"));
    }

    // Idle window: OGG chosen (the MP3-only lists greyed), the Music Cutter on, toolbar button
    // "Remove" hovered with its menu open.
    {
        zmtest::Harness idle;
        QFile options(idle.app.path + QStringLiteral("/options.ini"));
        options.open(QIODevice::WriteOnly);
        options.write("0\r\n1\r\n30\r\n90\r\n");
        options.close();
        showIdle(idle, 2);
        hover(idle.window->imgToolbar(1));
        QMenu *menu = idle.window->menuRemove();
        menu->popup(QPoint(0, 0));
        QApplication::processEvents();
        QImage img = render(*idle.window);
        const QImage menuImg = menu->grab().toImage();
        menu->hide();
        layPopup(img,
                 QPoint(idle.window->imgToolbar(1)->x() + 40, idle.window->imgToolbar(1)->y() + 44),
                 menuImg);
        img.save(outDir + QStringLiteral("/zelmora-menu") + suffix + QStringLiteral(".png"));
    }
    // The Options menu with "Simultaneous Conversions" open and 2 checked (M4A chosen), then the
    // format list open with the mouse on M4A.
    {
        zmtest::Harness idle;
        showIdle(idle, 8);
        idle.window->txtAction()->setText(QStringLiteral("menuJobs2"));
        hover(idle.window->imgMenu(1));
        QMenu *options = idle.window->menuOptions();
        QMenu *jobs = idle.window->menuJobs();
        options->popup(QPoint(0, 0));
        options->setActiveAction(options->actions().last());
        jobs->popup(QPoint(0, 0));
        jobs->setActiveAction(jobs->actions().at(1));
        QApplication::processEvents();
        QImage img = render(*idle.window);
        const QImage optionsImg = options->grab().toImage();
        const QImage jobsImg = jobs->grab().toImage();
        options->hide();
        jobs->hide();
        const QPoint at(idle.window->imgMenu(1)->x(),
                        idle.window->imgMenu(1)->geometry().bottom() + 1);
        const int optionsWidth = int(optionsImg.width() / optionsImg.devicePixelRatio());
        layPopup(img, at, optionsImg);
        layPopup(img,
                 at
                     + QPoint(optionsWidth - 2,
                              options->actionGeometry(options->actions().last()).top() - 4),
                 jobsImg);
        img.save(outDir + QStringLiteral("/zelmora-jobs") + suffix + QStringLiteral(".png"));

        QMouseEvent away(QEvent::MouseMove, QPointF(300, 5), QPointF(300, 5), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(idle.window.get(), &away);
        QComboBox *of = idle.window->cmbOF();
        of->setCurrentIndex(1); // the list opens over WMA; the mouse is on M4A
        of->showPopup();
        of->view()->selectionModel()->setCurrentIndex(of->model()->index(8, 0),
                                                      QItemSelectionModel::ClearAndSelect);
        QApplication::processEvents();
        QWidget *popup = of->view()->window();
        img = render(*idle.window);
        const QImage listImg = popup->grab().toImage();
        const QPoint listAt = idle.window->mapFromGlobal(popup->mapToGlobal(QPoint(0, 0)));
        of->hidePopup();
        layPopup(img, listAt, listImg);
        img.save(outDir + QStringLiteral("/zelmora-formats") + suffix + QStringLiteral(".png"));
    }
    {
        zm::frmSuggest suggest(QStringLiteral("http://127.0.0.1:9"));
        suggest.txtName()->setText(QStringLiteral("Ann"));
        suggest.txtEMail()->setText(QStringLiteral("ann@example.org"));
        suggest.txtComment()->setText(QStringLiteral("Great little tool, thank you!"));
        suggest.show();
        QApplication::processEvents();
        save(suggest,
             outDir + QStringLiteral("/zelmora-feedback") + suffix + QStringLiteral(".png"));
    }

    zm::ProgramSettings s{0, 1, 90, 120};
    zm::frmOptions options(s, QStringLiteral("/tmp/zmshots/options.ini"), nullptr);
    options.show();
    QApplication::processEvents();
    save(options, outDir + QStringLiteral("/zelmora-options") + suffix + QStringLiteral(".png"));
    QDir(QStringLiteral("/tmp/zmshots")).removeRecursively();
    return shot ? 0 : 1;
}
