// A stand-in for xdg-open, for the tests of opening paths in both programs.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace testsupport {

// A stand-in for xdg-open in a folder of its own: it writes each argument it is given to its
// log (each ended by 0x1e) and ends with `exitCode`.
class FakeOpener
{
public:
    explicit FakeOpener(int exitCode)
    {
        QFile f(program());
        f.open(QIODevice::WriteOnly);
        f.write("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\036' \"$a\" >> \"" + log().toUtf8()
                + "\"; done\nexit " + QByteArray::number(exitCode) + "\n");
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString program() const { return m_dir.filePath(QStringLiteral("xdg-open")); }
    QString log() const { return m_dir.filePath(QStringLiteral("opened.log")); }
    // The folder the stand-in lies in.
    QString folder() const { return m_dir.path(); }
    // The arguments of every run, in order.
    QStringList opened() const
    {
        QFile f(log());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(QChar(0x1e), Qt::SkipEmptyParts);
    }

private:
    QTemporaryDir m_dir;
};

} // namespace testsupport
