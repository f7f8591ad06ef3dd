#include "shell/desktopseams.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QTimer>
#include <QUrl>

namespace zm {

void QtMessageBoxes::show(MsgIcon icon, const QString &caption, const QString &text)
{
    QMessageBox::Icon qi = QMessageBox::NoIcon;
    switch (icon) {
    case MsgIcon::Error:
        qi = QMessageBox::Critical;
        break;
    case MsgIcon::Warning:
        qi = QMessageBox::Warning;
        break;
    case MsgIcon::Information:
        qi = QMessageBox::Information;
        break;
    case MsgIcon::None:
        break;
    }
    QMessageBox box(qi, caption, text, QMessageBox::Ok, m_owner);
    // What a box says can be selected and copied (a path that could not be opened, a reason).
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box.exec();
}

bool QtMessageBoxes::ask(const QString &caption, const QString &text)
{
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, m_owner);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

QtDesktopShell::QtDesktopShell(MessageBoxes *boxes) : m_boxes(boxes)
{
    QObject::connect(&m_opener, &DesktopOpener::failed, &m_opener,
                     [this](const QString &pathOrUrl) { reportFailure(pathOrUrl); });
}

bool QtDesktopShell::open(const QString &pathOrUrl)
{
    if (!m_opener.program().isEmpty())
        return m_opener.open(pathOrUrl);
    const QUrl url = pathOrUrl.startsWith(QLatin1Char('/')) ? QUrl::fromLocalFile(pathOrUrl) : QUrl(pathOrUrl);
    if (url.isValid() && QDesktopServices::openUrl(url))
        return true;
    reportFailure(pathOrUrl);
    return false;
}

void QtDesktopShell::reportFailure(const QString &pathOrUrl)
{
    if (m_boxes)
        m_boxes->show(MsgIcon::Warning, QString::fromLatin1(kAppTitle), openFailedText(pathOrUrl));
}

void QtSoundPlayer::playSync(const QString &wavPath)
{
    if (!QFileInfo(wavPath).isFile() || QMediaDevices::defaultAudioOutput().isNull())
        return; // no sound and no error without a file or an audio device
    QSoundEffect effect;
    effect.setSource(QUrl::fromLocalFile(wavPath));
    QEventLoop loop;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&effect, &QSoundEffect::playingChanged, &loop, [&] {
        if (!effect.isPlaying() && effect.status() != QSoundEffect::Loading)
            loop.quit();
    });
    QObject::connect(&effect, &QSoundEffect::statusChanged, &loop, [&] {
        if (effect.status() == QSoundEffect::Ready)
            effect.play();
        else if (effect.status() == QSoundEffect::Error)
            loop.quit();
    });
    if (effect.status() == QSoundEffect::Ready)
        effect.play();
    // A file that never loads or never ends: the batch is not held up for long.
    guard.start(3000);
    loop.exec();
}

QStringList QtFileDialogs::openFiles(QObject *owner, const QString &title, const QString &folder,
                                     const QString &filters, QString *selectedFilter)
{
    return QFileDialog::getOpenFileNames(qobject_cast<QWidget *>(owner), title, folder, filters, selectedFilter);
}

QString QtFileDialogs::chooseFolder(QObject *owner, const QString &prompt)
{
    return QFileDialog::getExistingDirectory(qobject_cast<QWidget *>(owner), prompt, QDir::homePath());
}

} // namespace zm
