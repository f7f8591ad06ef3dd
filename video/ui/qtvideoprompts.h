#pragma once

#include "videoprompts.h"

#include <QPointer>
#include <QWidget>

// The real message boxes and file choosers of the dialog.
class QtVideoPrompts final : public VideoPrompts
{
public:
    explicit QtVideoPrompts(QWidget *owner) : m_owner(owner) {}

    void Message(const QString &text, const QString &caption, bool owned) override;
    bool AskOkCancel(const QString &text, const QString &caption) override;
    QString OpenFile(const QString &title, const QStringList &filters) override;
    QString ChooseFolder(const QString &title, const QString &start) override;

private:
    QPointer<QWidget> m_owner;
};
