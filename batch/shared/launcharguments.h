#pragma once

#include <QString>
#include <QStringList>

namespace batch {

// What a window program's command line takes and says, which is all that differs between the
// programs of the suite: `<program> [FILE...]` or `<program> [FILE|FOLDER...]`.
struct LaunchRules {
    QString defaultName;       // the program's name when the first argument gives none
    QString productName;       // the name --version gives ("Zelmora")
    bool takesFolders = false; // folders are named as well as regular files
    QString description;       // the lines of --help between the usage line and the options

    // "usage: <program> [FILE...]", the description, the options.
    QString usageText(const QString &program) const;
    // "<product name> (<package>) <version>".
    QString versionText() const;
};

// A window program's command line (a file manager's "Open With" passes the chosen files the
// same way). Regular files, and folders where the program takes them, are kept in the order
// given; names that are missing or are neither (FIFOs, sockets, devices) are skipped with one
// line each for standard error.
struct LaunchArguments {
    enum class Action {
        Run,     // open the window with `paths`, or hand them to the window already running
        Help,    // print the usage and end with 0
        Version, // print the version and end with 0
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
    static LaunchArguments parse(const LaunchRules &rules, const QStringList &arguments, const QString &currentFolder);
};

// Prints the usage or the version on standard output when `launch` asks for one; true then.
bool answerInformation(const LaunchRules &rules, const LaunchArguments &launch);

} // namespace batch
