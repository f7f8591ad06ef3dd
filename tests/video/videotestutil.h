#pragma once

// Helpers shared by the video tests: a private application folder with the fake converter,
// a scripted replacement of the message boxes, and small file and process helpers.

#include "logic/videoprompts.h"
#include "support/fakeopener.h"
#include "support/process.h"

#include <QDeadlineTimer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <signal.h>
#include <sys/types.h>

#include <functional>
#include <memory>
#include <ostream>

// Readable values in test failure messages.
inline std::ostream &operator<<(std::ostream &os, const QString &s)
{
    return os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << s;
}
inline void PrintTo(const QStringList &l, std::ostream *os)
{
    *os << '{';
    for (const QString &s : l)
        *os << s << ' ';
    *os << '}';
}

#ifndef FAKE_VV_PATH
#error "FAKE_VV_PATH must name the fake converter"
#endif

// A temporary application folder holding a copy of the fake converter as "vv".
class FakeAppFolder
{
public:
    FakeAppFolder()
    {
        if (m_dir.isValid()) {
            QFile::copy(QStringLiteral(FAKE_VV_PATH), Converter());
            QFile::setPermissions(Converter(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
    }
    bool IsValid() const { return m_dir.isValid() && QFile::exists(Converter()); }
    QString Path() const { return m_dir.path(); }
    QString Converter() const { return m_dir.filePath(QStringLiteral("vv")); }
    QString Progress() const { return m_dir.filePath(QStringLiteral("progress.txt")); }
    QString File(const QString &name) const { return m_dir.filePath(name); }

    QStringList Calls() const
    {
        QFile log(File(QStringLiteral("calls.log")));
        if (!log.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QStringList LastArgs() const
    {
        QFile args(File(QStringLiteral("last_args")));
        if (!args.open(QIODevice::ReadOnly))
            return {};
        QStringList list;
        for (const QByteArray &a : args.readAll().split('\0'))
            list << QString::fromUtf8(a);
        if (!list.isEmpty())
            list.removeLast(); // after the last NUL
        return list;
    }

private:
    QTemporaryDir m_dir;
};

// Creates a small file (an input for the fake converter).
inline bool Touch(const QString &path, const QByteArray &content = "input")
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) >= 0;
}

inline QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// True while a process with this id exists. Unlike testsupport::processExists a zombie counts:
// the runner must reap its converter, so a leftover zombie is a fault here.
inline bool ProcessExists(pid_t pid)
{
    return pid > 0 && QFile::exists(QStringLiteral("/proc/%1").arg(pid));
}

using testsupport::FakeOpener;

// Message boxes and file choosers answered from a script.
class ScriptedPrompts final : public vidrune::VideoPrompts
{
public:
    struct Shown {
        QString text;
        QString caption;
        bool owned;
    };
    QList<Shown> messages;
    QList<Shown> questions;
    QList<bool> answers; // answers to AskOkCancel in order; OK when exhausted
    QList<Shown> yesNoQuestions;
    QList<bool> yesNoAnswers;      // answers to AskYesNo in order; Yes when exhausted
    QStringList filesToOpen;       // one file per OpenFiles in order; cancel when exhausted
    QList<QStringList> selections; // several files per OpenFiles, used before filesToOpen
    QStringList opened;            // paths given to OpenPath
    QStringList notifications;     // desktop notifications (filled by the dialog's options)
    QStringList foldersToChoose;   // answers to ChooseFolder; cancel when exhausted
    QStringList lastFilters;
    QString lastTitle;
    std::function<void()> onQuestion; // runs inside AskOkCancel (like a nested event loop)

    void Message(const QString &text, const QString &caption, bool owned) override
    {
        messages.append({text, caption, owned});
    }
    bool AskOkCancel(const QString &text, const QString &caption) override
    {
        questions.append({text, caption, true});
        if (onQuestion)
            onQuestion();
        return answers.isEmpty() ? true : answers.takeFirst();
    }
    bool AskYesNo(const QString &text, const QString &caption) override
    {
        yesNoQuestions.append({text, caption, true});
        if (onQuestion)
            onQuestion();
        return yesNoAnswers.isEmpty() ? true : yesNoAnswers.takeFirst();
    }
    QStringList OpenFiles(const QString &title, const QStringList &filters) override
    {
        lastTitle = title;
        lastFilters = filters;
        if (!selections.isEmpty())
            return selections.takeFirst();
        return filesToOpen.isEmpty() ? QStringList() : QStringList{filesToOpen.takeFirst()};
    }
    QString ChooseFolder(const QString &title, const QString &) override
    {
        lastTitle = title;
        return foldersToChoose.isEmpty() ? QString() : foldersToChoose.takeFirst();
    }
    void OpenPath(const QString &path) override { opened << path; }
};
