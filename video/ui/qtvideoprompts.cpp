#include "ui/qtvideoprompts.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

namespace vidrune {

QtVideoPrompts::QtVideoPrompts(QWidget *owner) : m_owner(owner)
{
    QObject::connect(&m_opener, &DesktopOpener::failed, &m_opener,
                     [this](const QString &path) { ReportOpenFailure(path); });
}

void QtVideoPrompts::Message(const QString &text, const QString &caption, bool owned)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok,
                    owned ? m_owner.data() : nullptr);
    // The text can be selected and copied (a path that could not be opened).
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box.exec();
}

bool QtVideoPrompts::AskOkCancel(const QString &text, const QString &caption)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok | QMessageBox::Cancel,
                    m_owner.data());
    return box.exec() == QMessageBox::Ok;
}

bool QtVideoPrompts::AskYesNo(const QString &text, const QString &caption)
{
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                    m_owner.data());
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

QStringList QtVideoPrompts::OpenFiles(const QString &title, const QStringList &filters)
{
    QString selected = filters.value(0);
    return QFileDialog::getOpenFileNames(m_owner.data(), title, QString(),
                                         filters.join(QStringLiteral(";;")), &selected);
}

QString QtVideoPrompts::ChooseFolder(const QString &title, const QString &start)
{
    return QFileDialog::getExistingDirectory(m_owner.data(), title, start);
}

void QtVideoPrompts::OpenPath(const QString &path)
{
    if (!m_opener.Program().isEmpty()) {
        m_opener.Open(path);
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        ReportOpenFailure(path);
}

void QtVideoPrompts::ReportOpenFailure(const QString &path)
{
    Message(DesktopOpener::FailedText(path), QStringLiteral("提示信息"), true);
}

} // namespace vidrune
