#include "shell/frmfailures.h"

#include "engine/seams.h"
#include "skin/skin.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

namespace zm {

frmFailures::frmFailures(const BatchOutcome &outcome, DesktopShell *shell, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmFailures"));
    setWindowTitle(QString::fromLatin1(kAppTitle));
    setModal(true);

    auto *icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));
    auto *heading = new QLabel(failuresHeading(outcome.failures.size()), this);
    heading->setObjectName(QStringLiteral("heading"));
    heading->setFont(skinFont(13, true));
    auto *top = new QHBoxLayout;
    top->addWidget(icon);
    top->addWidget(heading, 1);

    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("failureList"));
    m_list->setAlternatingRowColors(true);
    m_list->setWordWrap(true);
    m_list->setTextElideMode(Qt::ElideMiddle);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setFont(skinFont(12));
    m_list->setAccessibleName(heading->text());
    for (const FailedFile &f : outcome.failures) {
        auto *item = new QListWidgetItem(f.inputPath + QLatin1Char('\n') + f.reason, m_list);
        item->setToolTip(f.inputPath);
    }

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    m_copy = buttons->addButton(QStringLiteral("Copy"), QDialogButtonBox::ActionRole);
    m_logs = buttons->addButton(QStringLiteral("Open Log Folder"), QDialogButtonBox::ActionRole);
    m_logs->setEnabled(!outcome.logFolder.isEmpty() && QFileInfo(outcome.logFolder).isDir());
    m_addBack = buttons->addButton(QStringLiteral("Add Back to Queue"), QDialogButtonBox::ActionRole);
    const QList<FailedFile> failed = outcome.failures;
    connect(m_addBack, &QPushButton::clicked, this, [this, failed] {
        // Once: a second press would queue every file twice.
        m_addBack->setEnabled(false);
        emit addBackRequested(failed);
    });
    const QString text = failuresText(outcome.failures);
    connect(m_copy, &QPushButton::clicked, this, [text] { QGuiApplication::clipboard()->setText(text); });
    const QString folder = outcome.logFolder;
    connect(m_logs, &QPushButton::clicked, this, [shell, folder] {
        if (shell)
            shell->open(folder);
    });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_list, 1);
    layout->addWidget(buttons);

    // As tall as the list needs, never taller than most of the screen: the list scrolls then.
    const QScreen *screen = parent && parent->screen() ? parent->screen() : QGuiApplication::primaryScreen();
    const QRect avail = screen ? screen->availableGeometry() : QRect(0, 0, 800, 600);
    int listHeight = 2 * m_list->frameWidth();
    for (int i = 0; i < m_list->count(); ++i)
        listHeight += m_list->sizeHintForRow(i);
    const int chrome = sizeHint().height() - m_list->sizeHint().height();
    const int height = std::min(chrome + std::max(listHeight, 80), avail.height() * 4 / 5);
    const int width = std::min(620, avail.width() * 9 / 10);
    resize(width, height);
    setMaximumHeight(avail.height());
    move(avail.center() - rect().center());
}

} // namespace zm
