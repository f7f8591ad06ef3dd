#pragma once

#include <QString>
#include <QStringList>

namespace vidrune {

// Every message box and file chooser of the video dialog goes through this interface, so
// tests can answer them without a modal window.
class VideoPrompts
{
public:
    virtual ~VideoPrompts() = default;

    // A message with an OK button. `owned`: the box belongs to the dialog (false: no owner).
    virtual void Message(const QString &text, const QString &caption, bool owned) = 0;
    // A question with OK and Cancel; true only for OK.
    virtual bool AskOkCancel(const QString &text, const QString &caption) = 0;
    // A question with Yes and No; true only for Yes.
    virtual bool AskYesNo(const QString &text, const QString &caption) = 0;
    // Open-file dialog allowing several files; `filters` are "label (patterns)" entries, the
    // first preselected. The files in the order the dialog gives them; empty when cancelled.
    virtual QStringList OpenFiles(const QString &title, const QStringList &filters) = 0;
    // Folder browser; empty when cancelled.
    virtual QString ChooseFolder(const QString &title, const QString &start) = 0;
    // Opens a file or folder with the desktop's own program for it.
    virtual void OpenPath(const QString &path) = 0;
};

} // namespace vidrune
