#include "ui/qtvideoprompts.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

namespace vidrune {

void QtVideoPrompts::Message(const QString &text, const QString &caption, bool owned)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok,
                    owned ? m_owner.data() : nullptr);
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
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

} // namespace vidrune
