#pragma once
// Shared pieces of the zelmora tests: a temporary application folder holding the fake
// converter, and recorders standing in for message boxes, the shell, the sound and dialogs.
#include "engine/seams.h"
#include "queue/commondialogs.h"
#include "support/fakeopener.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>
#include <csignal>
#include <functional>
#include <string>
#include <ostream>
#include <vector>

// Texts in test failures read as text.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace zmtest {

struct Box {
    zm::MsgIcon icon;
    QString caption;
    QString text;
};

class RecordingBoxes final : public zm::MessageBoxes
{
public:
    void show(zm::MsgIcon icon, const QString &caption, const QString &text) override
    {
        boxes.push_back({icon, caption, text});
        if (onShow)
            onShow();
    }
    // Questions are recorded like boxes (with no icon) and answered from `answers` (No when
    // none is left).
    bool ask(const QString &caption, const QString &text) override
    {
        questions.push_back({zm::MsgIcon::None, caption, text});
        if (answers.empty())
            return false;
        const bool yes = answers.front();
        answers.erase(answers.begin());
        return yes;
    }
    std::vector<Box> boxes, questions;
    std::vector<bool> answers;
    std::function<void()> onShow;
};

class RecordingShell final : public zm::DesktopShell
{
public:
    bool open(const QString &p) override
    {
        opened << p;
        return true;
    }
    QStringList opened;
};

class RecordingSound final : public zm::SoundPlayer
{
public:
    void playSync(const QString &p) override { played << p; }
    QStringList played;
};

class ScriptedFiles final : public zm::FileDialogBackend
{
public:
    // Each call takes the next entry of `fileLists`, or else one file of `answers`; the filter
    // shown first is recorded and replaced by `chooseFilter` when that is set.
    QStringList openFiles(QObject *, const QString &title, const QString &folder, const QString &filters,
                          QString *selectedFilter) override
    {
        titles << title;
        folders << folder;
        lastFilters = filters;
        preselected << (selectedFilter ? *selectedFilter : QString());
        if (selectedFilter && !chooseFilter.isEmpty())
            *selectedFilter = chooseFilter;
        if (!fileLists.isEmpty())
            return fileLists.takeFirst();
        return answers.isEmpty() ? QStringList() : QStringList{answers.takeFirst()};
    }
    QString chooseFolder(QObject *, const QString &prompt) override
    {
        titles << prompt;
        return folderAnswers.isEmpty() ? QString() : folderAnswers.takeFirst();
    }
    QStringList answers, folderAnswers, titles, folders, preselected;
    QList<QStringList> fileLists;
    QString lastFilters, chooseFilter;
};

// One line of the fake converter's log: a start (with the arguments it was given) or an end.
struct LogEntry {
    bool start;
    qint64 ms;
    QStringList args;
};

inline std::vector<LogEntry> parseLog(const QStringList &lines)
{
    std::vector<LogEntry> out;
    for (const QString &l : lines) {
        const QStringList f = l.split(QLatin1Char('\t'));
        out.push_back({f[0] == QLatin1String("start"), f.value(1).toLongLong(),
                       f[0] == QLatin1String("start") ? f.value(2).split(QChar(0x1f)) : QStringList()});
    }
    return out;
}

// Stopping a converter: one that ends on SIGTERM ends at once; one that ignores it is killed
// after the grace time, never before.
struct TerminateCase {
    const char *name;
    QStringList script;
    int graceMs;
    int signal;
    qint64 atLeastMs;
};

// The grandchild a "grandchild" line of `script` started (0 when there is none).
inline pid_t grandchildOf(const QString &script)
{
    QFile f(script + QStringLiteral(".grandchild"));
    return f.open(QIODevice::ReadOnly) ? pid_t(f.readAll().trimmed().toInt()) : 0;
}

inline std::vector<TerminateCase> terminateCases()
{
    return {
        {"ends on SIGTERM", {QStringLiteral("out started"), QStringLiteral("sleep 20000")}, 10000, SIGTERM, 0},
        {"ignores SIGTERM",
         {QStringLiteral("ignore-term"), QStringLiteral("out started"), QStringLiteral("sleep 20000")},
         400,
         SIGKILL,
         400},
    };
}

// A temporary application folder: <dir>/data/conv is the fake converter (or absent).
struct FakeApp {
    QTemporaryDir dir;
    QString path;
    explicit FakeApp(bool withConverter = true)
    {
        path = dir.path();
        QDir(path).mkpath(QStringLiteral("data"));
        QDir(path).mkpath(QStringLiteral("in"));
        if (withConverter)
            QFile::copy(QStringLiteral(FAKECONV_PATH), path + QStringLiteral("/data/conv"));
    }
    QString conv() const { return path + QStringLiteral("/data/conv"); }
    // Writes an input file acted out by the fake converter and returns its path.
    QString script(const QString &name, const QStringList &lines) const
    {
        QString p = path + QStringLiteral("/in/") + name;
        QFile f(p);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write("#fake\n");
        for (const QString &l : lines)
            f.write(l.toUtf8() + '\n');
        return p;
    }
    // Writes a file of the application folder (a settings file) and says whether it could.
    bool write(const QString &name, const QByteArray &bytes) const
    {
        QFile f(path + QLatin1Char('/') + name);
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
    }
    QString log() const { return path + QStringLiteral("/conv.log"); }
    QStringList logLines() const
    {
        QFile f(log());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
};

using testsupport::FakeOpener;

} // namespace zmtest
