#pragma once
#include "engine/desktopopener.h"
#include "engine/seams.h"
#include "queue/commondialogs.h"

#include <QPointer>
#include <QWidget>

namespace zm {

// The real desktop behind the program's seams.
class QtMessageBoxes final : public MessageBoxes
{
public:
    void setOwner(QWidget *owner) { m_owner = owner; }
    void show(MsgIcon icon, const QString &caption, const QString &text) override;
    bool ask(const QString &caption, const QString &text) override;

private:
    QPointer<QWidget> m_owner;
};

// Opens through xdg-open (Qt's desktop services when there is none); when that fails, at once
// or when xdg-open gives up, a message box names the path, so the user can copy it.
class QtDesktopShell final : public DesktopShell
{
public:
    explicit QtDesktopShell(MessageBoxes *boxes = nullptr);
    bool open(const QString &pathOrUrl) override;
    DesktopOpener &opener() { return m_opener; }

private:
    void reportFailure(const QString &pathOrUrl);

    MessageBoxes *m_boxes;
    DesktopOpener m_opener;
};

class QtSoundPlayer final : public SoundPlayer
{
public:
    void playSync(const QString &wavPath) override;
};

class QtFileDialogs final : public FileDialogBackend
{
public:
    QStringList openFiles(QObject *owner, const QString &title, const QString &folder, const QString &filters,
                          QString *selectedFilter) override;
    QString chooseFolder(QObject *owner, const QString &prompt) override;
};

// All the seams one window needs.
struct UiSeams {
    MessageBoxes *boxes = nullptr;
    DesktopShell *shell = nullptr;
    SoundPlayer *sound = nullptr;
    FileDialogBackend *files = nullptr;
};

} // namespace zm
