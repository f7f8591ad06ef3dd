#include "ui/qtvideoprompts.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

namespace vidrune {

namespace {

// What the message box says when opening `path` failed, the path on a line of its own.
QString OpenFailedText(const QString &path)
{
    return QStringLiteral("无法打开：\n\n%1\n\n这台电脑上没有能打开它的程序。可以从这里复制路径。")
        .arg(path);
}

} // namespace

QtVideoPrompts::QtVideoPrompts(QWidget *owner) : m_owner(owner)
{
    QObject::connect(&m_opener, &batch::DesktopOpener::failed, &m_opener,
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
    if (!m_opener.program().isEmpty()) {
        m_opener.open(path);
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        ReportOpenFailure(path);
}

void QtVideoPrompts::ReportOpenFailure(const QString &path)
{
    Message(OpenFailedText(path), QStringLiteral("提示信息"), true);
}

} // namespace vidrune
