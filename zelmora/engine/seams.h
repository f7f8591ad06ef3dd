#pragma once
// Small interfaces through which the program reaches the desktop: message boxes, the shell
// ("open" a folder or a web page) and the finish sound. The window supplies real ones; tests
// supply recorders, so nothing ever blocks on a modal box.
#include <QString>

namespace zm {

inline constexpr auto kAppTitle = "Zelmora";

enum class MsgIcon { None, Error, Warning, Information };

class MessageBoxes
{
public:
    virtual ~MessageBoxes() = default;
    // Shows a box with one OK button and returns when it is closed.
    virtual void show(MsgIcon icon, const QString &caption, const QString &text) = 0;
    // Asks a question with the buttons Yes and No (No is the default); true for Yes.
    virtual bool ask(const QString &caption, const QString &text) = 0;
};

class DesktopShell
{
public:
    virtual ~DesktopShell() = default;
    // Opens a local folder or file (absolute path) or a web address in the user's programs.
    virtual bool open(const QString &pathOrUrl) = 0;
};

class SoundPlayer
{
public:
    virtual ~SoundPlayer() = default;
    // Plays a wave file and returns when it has ended (or could not be played).
    virtual void playSync(const QString &wavPath) = 0;
};

} // namespace zm
