#pragma once

#include <QString>
#include <QStringList>

namespace vidrune {

// The command line of `vidrune [FILE...]` (the file manager's "Open With" passes the chosen
// files the same way). Every regular file named is added to the list as the Add button adds
// the files of a multiple choice; names that are missing or are not regular files (folders,
// FIFOs, devices) are skipped with one line each on standard error.
struct LaunchArguments {
    enum class Action {
        Run,     // open the dialog with `files`
        Help,    // print UsageText() and end with 0
        Version, // print VersionText() and end with 0
        Error,   // print the messages and the usage, end with 2
    };

    Action action = Action::Run;
    QString program;      // the name the program was started by ("vidrune", "video")
    QStringList files;    // absolute, cleaned, in the order given
    QStringList messages; // for standard error, each "<program>: ..."

    // `arguments` as the program got them (the first is the program's own name), after Qt
    // has taken its own options. Relative names are taken from `currentFolder`. "--" ends the
    // options; a "file://" address names a local file. --help, then --version, win over
    // everything else (so they can be answered before Qt has taken its options).
    static LaunchArguments Parse(const QStringList &arguments, const QString &currentFolder);

    static QString UsageText(const QString &program);
    static QString VersionText();
};

} // namespace vidrune
