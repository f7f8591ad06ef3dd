#pragma once
#include <QString>
#include <QStringList>

namespace zm {

// The command line of `zelmora [FILE|FOLDER...]` (a file manager's "Open With" and a drop on the
// launcher pass their files the same way). Regular files join the queue as they are, folders
// bring every file below them as Add Folder finds them, in the order given; names that are
// missing or are neither (FIFOs, sockets, devices) are skipped with one line each on standard
// error.
struct LaunchArguments {
    enum class Action {
        Run,     // start, or hand `paths` to the window already running
        Help,    // print usageText() and end with 0
        Version, // print versionText() and end with 0
        Error,   // print the messages and the usage on standard error, end with 2
    };

    Action action = Action::Run;
    QString program;      // the name the program was started by
    QStringList paths;    // absolute and cleaned, in the order given
    QStringList messages; // for standard error, each "<program>: ..."

    // `arguments` as the program got them (the first is its own name), after Qt has taken its
    // own options. Relative names are taken from `currentFolder`; "--" ends the options; a
    // "file://" address names a local file. --help, then --version, win over everything else,
    // so they can be answered before there is a display.
    static LaunchArguments parse(const QStringList &arguments, const QString &currentFolder);

    static QString usageText(const QString &program);
    static QString versionText();
};

} // namespace zm
