#include "shell/batchpresenter.h"

#include "engine/batchdriver.h"
#include "engine/progressparser.h"
#include "queue/queuemodel.h"
#include "settings/optionsrules.h"
#include "shell/frmfailures.h"
#include "skin/hotspot.h"
#include "skin/skin.h"

#include <QDBusConnection>
#include <QFontMetrics>
#include <QLabel>
#include <algorithm>
#include <cmath>

namespace zm {

namespace {

constexpr int kFullBarPixels = 361;

} // namespace

BatchPresenter::BatchPresenter(Parts parts, BatchDriver &batch, QueueModel &queue, const ProgramSettings &settings,
                               UiSeams seams, std::function<void(QDialog &)> runDialog, QObject *parent)
    : QObject(parent), m_parts(parts), m_batch(batch), m_queue(queue), m_settings(settings), m_seams(seams),
      m_runDialog(std::move(runDialog))
{
    connect(&m_batch, &BatchDriver::progressChanged, this, &BatchPresenter::showProgress);
    connect(&m_batch, &BatchDriver::statusChanged, this, &BatchPresenter::showStatus);
    // The launcher counts the files left: each converted one leaves the queue, and files may
    // join it during the batch.
    for (auto changed : {&QAbstractItemModel::rowsRemoved, &QAbstractItemModel::rowsInserted})
        connect(&m_queue, changed, this, [this] {
            if (m_batch.isRunning() && m_launcher)
                m_launcher->show(m_taskFraction, m_queue.count());
        });
}

BatchPresenter::~BatchPresenter()
{
    // A window that goes during a batch leaves no progress on the task bar.
    if (m_launcher)
        m_launcher->clear();
}

void BatchPresenter::setNotificationBus(const QDBusConnection &bus)
{
    if (m_launcher)
        m_launcher->clear();
    m_launcher = std::make_unique<LauncherEntry>(bus);
    m_notifier = std::make_unique<DesktopNotifier>(bus);
    connect(m_notifier.get(), &DesktopNotifier::openFolderRequested, this, [this](const QString &folder) {
        if (m_seams.shell)
            m_seams.shell->open(folder);
    });
}

void BatchPresenter::showProgress(float widthTwips, const QString &caption)
{
    const int px = qBound(0, qRound(widthTwips / 15.0f), kFullBarPixels);
    m_parts.imgPB->resize(px, m_parts.imgPB->height());
    m_parts.lblPB->setText(caption);
    if (m_batch.isRunning())
        showTaskProgress(std::clamp(double(widthTwips) / double(kFullBarTwips), 0.0, 1.0));
}

void BatchPresenter::batchRunning(bool running)
{
    if (running)
        showTaskProgress(0.0);
    else
        clearTaskProgress();
}

void BatchPresenter::showTaskProgress(double fraction)
{
    // The task bar and the window list learn what the bar shows: "42% — Zelmora" as the title
    // (the skin draws its own caption), and the progress with the files left on the launcher.
    m_taskFraction = fraction;
    // Whole percents, as the caption has them (the bar's width is a float: 0.42 may be 0.4199998).
    const int percent = int(std::floor(fraction * 100 + 0.001));
    m_parts.window->setWindowTitle(QStringLiteral("%1% \u2014 ").arg(percent) + QString::fromLatin1(kAppTitle));
    if (m_launcher)
        m_launcher->show(fraction, m_queue.count());
}

void BatchPresenter::clearTaskProgress()
{
    m_parts.window->setWindowTitle(QString::fromLatin1(kAppTitle));
    if (m_launcher)
        m_launcher->clear();
}

void BatchPresenter::batchEnded(const BatchOutcome &outcome)
{
    if (!m_parts.window->isActiveWindow() && m_notifier)
        m_notifier->notify(QString::fromLatin1(kAppTitle), outcome.summary, outcome.outputFolder);
    if (!outcome.failures.isEmpty()) {
        frmFailures failures(outcome, m_seams.shell, m_parts.window);
        connect(&failures, &frmFailures::addBackRequested, this, &BatchPresenter::addBackRequested);
        m_runDialog(failures);
    }
}

void BatchPresenter::showStatus(const QString &text)
{
    m_status = text;
    m_parts.lblStatus->setToolTip(text);
    layoutStatusStrip();
}

void BatchPresenter::updateCutIndicator()
{
    const QString text = cutIndicatorText(m_settings);
    m_parts.lblCut->setText(text);
    m_parts.lblCut->setVisible(!text.isEmpty());
    layoutStatusStrip();
}

void BatchPresenter::layoutStatusStrip()
{
    // Between "Zelmora" (ending at 221) and "Feedback" (starting at 628): the cut at the right,
    // the status text in the room left of it.
    constexpr int left = 232, right = 620, top = 477, height = 13;
    HotSpot *cut = m_parts.lblCut;
    int cutLeft = right;
    if (cut->isVisibleTo(m_parts.window)) {
        const int w = QFontMetrics(cut->font()).horizontalAdvance(cut->text()) + 2;
        cutLeft = right - w;
        cut->setGeometry(cutLeft, top, w, height);
        cutLeft -= 12;
    }
    const int width = std::max(cutLeft - left, 0);
    QLabel *status = m_parts.lblStatus;
    status->setGeometry(left, top, width, height);
    // A text longer than the room left ends in "…"; the tool tip has all of it.
    status->setText(QFontMetrics(status->font()).elidedText(m_status, Qt::ElideRight, width));
}

} // namespace zm
