#pragma once

#include "logic/videoprompts.h"

#include <QPointer>
#include <QWidget>

namespace vidrune {

// The real message boxes and file choosers of the dialog.
class QtVideoPrompts final : public VideoPrompts
{
public:
    explicit QtVideoPrompts(QWidget *owner) : m_owner(owner) {}

    void Message(const QString &text, const QString &caption, bool owned) override;
    bool AskOkCancel(const QString &text, const QString &caption) override;
    bool AskYesNo(const QString &text, const QString &caption) override;
    QStringList OpenFiles(const QString &title, const QStringList &filters) override;
    QString ChooseFolder(const QString &title, const QString &start) override;
    void OpenPath(const QString &path) override;

private:
    QPointer<QWidget> m_owner;
};

} // namespace vidrune
