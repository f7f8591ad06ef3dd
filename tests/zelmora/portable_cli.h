// A portable copy of zelmora-cli with the real converter beside it (data/conv) and a state folder
// of its own, for tests that run the command line as a user would. CONV_PATH and ZELMORA_CLI_PATH
// are the built programs.
#pragma once

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

struct PortableCli {
    QTemporaryDir dir;
    QString path, cli, state;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    PortableCli()
    {
        path = dir.path();
        QDir(path).mkpath(QStringLiteral("data"));
        cli = path + QStringLiteral("/zelmora-cli");
        QFile::copy(QStringLiteral(ZELMORA_CLI_PATH), cli);
        QFile::copy(QStringLiteral(CONV_PATH), path + QStringLiteral("/data/conv"));
        state = path + QStringLiteral("/state");
        env.insert(QStringLiteral("XDG_STATE_HOME"), state);
    }
    // The loudness measurements kept in the state folder.
    QStringList measurements() const
    {
        QStringList found;
        QDirIterator it(state, {QStringLiteral("*.json")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            found << it.next();
        return found;
    }
};
