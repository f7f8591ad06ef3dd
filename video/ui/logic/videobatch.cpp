#include "videobatch.h"

#include "commandline.h"
#include "filelistmodel.h"
#include "outputnaming.h"
#include "presets.h"
#include "progressfile.h"
#include "videoprompts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QThread>

#include <cstring>

const QString VideoBatch::StatusWaiting = QStringLiteral("等待");
const QString VideoBatch::StatusDone = QStringLiteral("已完成");
const QString VideoBatch::StatusFailed = QStringLiteral("失败");
const QString VideoBatch::StatusTooLong = QStringLiteral("失败：命令行过长");

namespace {

bool ExistsAsFile(const QString &path)
{
    // "Can be opened for reading as an existing file".
    QFile file(path);
    return QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly);
}

bool ExistsAtAll(const QString &path)
{
    return QFileInfo::exists(path) || QFileInfo(path).isSymLink();
}

} // namespace

VideoBatch::VideoBatch(FileListModel &list, VideoSettings &settings, VideoPrompts &prompts,
                       Config config, QObject *parent)
    : QObject(parent), m_list(list), m_settings(settings), m_prompts(prompts),
      m_config(std::move(config))
{
    if (m_config.converter.isEmpty())
        m_config.converter = m_config.appFolder + QStringLiteral("/vv");
    m_timer.setInterval(m_config.tickMs);
    connect(&m_timer, &QTimer::timeout, this, &VideoBatch::OnTimer);
}

VideoBatch::~VideoBatch()
{
    m_timer.stop();
    runner.reset(); // ends a running converter and waits for its thread
}

QString VideoBatch::ProgressFilePath() const
{
    return m_config.appFolder + QStringLiteral("/progress.txt");
}

QString VideoBatch::ConverterPath() const
{
    return m_config.converter;
}

pid_t VideoBatch::CurrentPid() const
{
    return runner ? runner->Pid() : 0;
}

QString VideoBatch::CompletionText(int failures)
{
    if (failures == 0)
        return QStringLiteral("转换完成");
    return QStringLiteral("转换完成，其中 %1 个文件转换失败").arg(failures);
}

QString VideoBatch::FailureDetail(const RunResult &result, bool outputWritten)
{
    switch (result.outcome) {
    case RunOutcome::Succeeded:
        return outputWritten ? QString() : QStringLiteral("转换器没有写出输出文件");
    case RunOutcome::Failed:
        return QStringLiteral("转换器出错退出（退出码 %1）").arg(result.exitCode);
    case RunOutcome::Killed:
        return QStringLiteral("转换器被信号 %1 结束").arg(result.signal);
    case RunOutcome::StartFailed:
        return QStringLiteral("无法启动转换器：%1")
            .arg(QString::fromLocal8Bit(std::strerror(result.error)));
    case RunOutcome::CommandTooLong:
        return QStringLiteral("命令行超过 %1 个字符或 %2 字节")
            .arg(ConverterCommand::MaxCharacters)
            .arg(ConverterCommand::MaxBytes);
    case RunOutcome::Cancelled:
        return QStringLiteral("转换已取消");
    case RunOutcome::Pending:
        break;
    }
    return QString();
}

int VideoBatch::Failures() const
{
    return static_cast<int>(m_states.count(FileState::Failed));
}

VideoBatch::FileState VideoBatch::StateOf(int row) const
{
    return row >= 0 && row < m_states.size() ? m_states.at(row) : FileState::Waiting;
}

QString VideoBatch::OutputPathOf(int row) const
{
    return row >= 0 && row < m_outputs.size() ? m_outputs.at(row) : QString();
}

QString VideoBatch::CommandLineOf(int row) const
{
    return row >= 0 && row < m_commandLines.size() ? m_commandLines.at(row) : QString();
}

void VideoBatch::SetBar(int value)
{
    if (m_bar == value)
        return;
    m_bar = value;
    emit barChanged(value);
}

bool VideoBatch::Start(const QString &outputFolder)
{
    if (m_busy)
        return false;
    if (m_list.Count() == 0) {
        m_prompts.Message(QStringLiteral("请添加要转换的视频"), QStringLiteral("提示信息"), true);
        return false;
    }
    ++m_generation;
    m_busy = true;
    emit busyChanged(true);
    // The audio codec is left out so the user's audio lists are not refilled now.
    m_settings.RefreshOptions(false);
    m_outputFolder = outputFolder;
    m_extension = m_settings.Extension();
    SetBar(0);
    fileCount = m_list.Count();
    currentIndex = 0;
    m_states = QVector<FileState>(fileCount, FileState::Waiting);
    m_outputs = QVector<QString>(fileCount);
    m_commandLines = QVector<QString>(fileCount);
    m_failureTexts = QVector<QString>(fileCount);
    m_failureDetails = QVector<QString>(fileCount);
    for (int i = 0; i < fileCount; ++i)
        m_list.SetDetail(i, QString());

    const quint64 generation = m_generation;
    QPointer<VideoBatch> self(this);
    StartFile();
    if (!self || generation != m_generation)
        return true; // closed while the overwrite question was open
    m_timer.start(m_config.tickMs);
    RefreshStatuses(false);
    return true;
}

void VideoBatch::StartFile()
{
    const int row = currentIndex;
    m_starting = true;
    m_startFailed = false;
    m_states[row] = FileState::Converting;

    const QString input = m_list.Path(row);
    const QString base = OutputNaming::BaseName(input);
    QString prefix;
    QString output = OutputNaming::BuildOutputPath(m_outputFolder, input, m_extension);
    if (output == input) {
        prefix = OutputNaming::NewPrefix;
        output = OutputNaming::Join(m_outputFolder, base, m_extension, prefix);
    }
    // Two files of one batch with the same base name: the later one never replaces what this
    // batch has already written. It gets the first of " (2)", " (3)", ... that names no file
    // at all, so the numbered name replaces nothing and needs no question.
    QString name = base;
    const auto takenInBatch = [&](const QString &path) {
        return path == input || m_outputs.mid(0, row).contains(path);
    };
    if (takenInBatch(output)) {
        for (int n = 2;; ++n) {
            name = base + QStringLiteral(" (%1)").arg(n);
            output = OutputNaming::Join(m_outputFolder, name, m_extension, prefix);
            if (!takenInBatch(output) && !ExistsAtAll(output))
                break;
        }
    }
    if (ExistsAsFile(output)) {
        const quint64 generation = m_generation;
        QPointer<VideoBatch> self(this);
        const bool overwrite = m_prompts.AskOkCancel(
            QStringLiteral("输出目录%1中，已经有%2.%3，是否要覆盖？")
                .arg(m_outputFolder, name, m_extension),
            QStringLiteral("提示"));
        if (!self || generation != m_generation)
            return;
        if (!overwrite)
            output = OutputNaming::RenamedPath(m_outputFolder, name, m_extension, ExistsAtAll);
    }
    m_outputs[row] = output;

    const QString commandLine =
        ConverterCommand::Build(input, m_settings.Slots(), output);
    m_commandLines[row] = commandLine;
    if (!ConverterCommand::Fits(commandLine)) {
        // Never truncated: this file fails, the batch goes on at the next tick.
        m_startFailed = true;
        m_failureTexts[row] = StatusTooLong;
        RunResult tooLong;
        tooLong.outcome = RunOutcome::CommandTooLong;
        m_failureDetails[row] = FailureDetail(tooLong, false);
        m_starting = false;
        return;
    }
    ProgressFile::Reset(ProgressFilePath());
    runner = std::make_unique<MirelFFmpeg>(commandLine.toStdString(),
                                             m_config.converter.toStdString());
    m_starting = false;
}

void VideoBatch::FinishCurrent()
{
    const int row = currentIndex;
    bool ok = false;
    if (!m_startFailed && runner) {
        const RunResult result = runner->Result();
        const QFileInfo out(m_outputs.value(row));
        ok = result.outcome == RunOutcome::Succeeded && out.isFile() && out.size() > 0;
        if (!ok) {
            m_failureTexts[row] = StatusFailed;
            m_failureDetails[row] = FailureDetail(result, out.isFile() && out.size() > 0);
            // Nothing checks the folder beforehand; when it is missing, that is the reason.
            if (result.outcome != RunOutcome::StartFailed && !out.dir().exists())
                m_failureDetails[row] = QStringLiteral("输出目录不存在：%1").arg(out.path());
        }
    }
    runner.reset();
    m_startFailed = false;
    m_states[row] = ok ? FileState::Done : FileState::Failed;
}

void VideoBatch::OnTimer()
{
    if (!m_busy)
        return;
    if (m_starting) {
        // A tick while the overwrite question is open only refreshes the statuses.
        RefreshStatuses(false);
        return;
    }
    if ((runner && runner->IsFinished()) || m_startFailed) {
        FinishCurrent();
        if (currentIndex < fileCount - 1) {
            SetBar(ProgressFile::Complete);
            ++currentIndex;
            const quint64 generation = m_generation;
            QPointer<VideoBatch> self(this);
            StartFile();
            if (!self || generation != m_generation)
                return;
            // The pause between files is part of the flow: the dialog waits here.
            if (m_config.pauseMs > 0)
                QThread::msleep(static_cast<unsigned long>(m_config.pauseMs));
            SetBar(0);
        } else {
            m_busy = false;
            m_timer.stop();
            SetBar(ProgressFile::Complete);
            RefreshStatuses(true);
            emit busyChanged(false);
            const int failures = Failures();
            m_prompts.Message(CompletionText(failures), QStringLiteral("转换完成"), false);
            SetBar(ProgressFile::Complete);
            emit completed(fileCount, failures);
            return;
        }
    }
    RefreshStatuses(false);
}

void VideoBatch::RefreshStatuses(bool batchComplete)
{
    const int count = std::min(fileCount, m_list.Count());
    for (int i = 0; i < count; ++i) {
        if (i < currentIndex || batchComplete) {
            const bool failed = m_states.at(i) == FileState::Failed;
            m_list.SetStatus(i, failed ? m_failureTexts.at(i) : StatusDone);
            m_list.SetDetail(i, failed ? m_failureDetails.at(i) : QString());
        } else if (i > currentIndex) {
            m_list.SetStatus(i, StatusWaiting);
        } else if (m_startFailed) {
            m_list.SetStatus(i, m_failureTexts.at(i));
            m_list.SetDetail(i, m_failureDetails.at(i));
        } else if (runner) {
            const ProgressFile::View view =
                ProgressFile::Interpret(ProgressFile::Read(ProgressFilePath()));
            m_list.SetStatus(i, view.status);
            if (view.valid && view.barValue > m_bar)
                SetBar(view.barValue);
        }
    }
}

void VideoBatch::Abort()
{
    ++m_generation;
    m_timer.stop();
    runner.reset(); // kills our own converter if it still runs, then waits for the thread
    m_starting = false;
    m_startFailed = false;
    if (m_busy) {
        m_busy = false;
        emit busyChanged(false);
    }
}
