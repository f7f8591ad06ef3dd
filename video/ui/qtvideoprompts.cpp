#include "qtvideoprompts.h"

#include <QFileDialog>
#include <QMessageBox>

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

QString QtVideoPrompts::OpenFile(const QString &title, const QStringList &filters)
{
    QString selected = filters.value(0);
    return QFileDialog::getOpenFileName(m_owner.data(), title, QString(),
                                        filters.join(QStringLiteral(";;")), &selected);
}

QString QtVideoPrompts::ChooseFolder(const QString &title, const QString &start)
{
    return QFileDialog::getExistingDirectory(m_owner.data(), title, start);
}
