#pragma once

#include "logic/videoprompts.h"
#include "shared/desktopopener.h"

#include <QPointer>
#include <QWidget>

namespace vidrune {

// The real message boxes and file choosers of the dialog. Opening a path goes through xdg-open
// (Qt's desktop services when there is none); when that fails, a box names the path so that it
// can be copied.
class QtVideoPrompts final : public VideoPrompts
{
public:
    explicit QtVideoPrompts(QWidget *owner);

    void Message(const QString &text, const QString &caption, bool owned) override;
    bool AskOkCancel(const QString &text, const QString &caption) override;
    bool AskYesNo(const QString &text, const QString &caption) override;
    QStringList OpenFiles(const QString &title, const QStringList &filters) override;
    QString ChooseFolder(const QString &title, const QString &start) override;
    void OpenPath(const QString &path) override;
    batch::DesktopOpener &Opener() { return m_opener; }

private:
    void ReportOpenFailure(const QString &path);

    QPointer<QWidget> m_owner;
    batch::DesktopOpener m_opener;
};

} // namespace vidrune
