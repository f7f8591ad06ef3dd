#include "logic/videobatch.h"

#include "core/commandline.h"
#include "core/converterprogress.h"
#include "core/statelocations.h"
#include "logic/filelistmodel.h"
#include "logic/outputnaming.h"
#include "logic/presets.h"
#include "logic/videoprompts.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

#include <csignal>
#include <cstring>
#include <initializer_list>

namespace vidrune {

const QString VideoBatch::StatusWaiting = QStringLiteral("等待");
const QString VideoBatch::StatusDone = QStringLiteral("已完成");
const QString VideoBatch::StatusFailed = QStringLiteral("失败");
const QString VideoBatch::ReasonNotMedia = QStringLiteral("不是可以读取的媒体文件");
const QString VideoBatch::ReasonNoVideo = QStringLiteral("文件中没有视频");
const QString VideoBatch::ReasonInputMissing = QStringLiteral("找不到输入文件");
const QString VideoBatch::ReasonInputUnreadable = QStringLiteral("无法读取输入文件");
const QString VideoBatch::ReasonCannotWrite = QStringLiteral("无法写入输出目录");
const QString VideoBatch::ReasonDiskFull = QStringLiteral("磁盘空间不足");
const QString VideoBatch::ReasonStopped = QStringLiteral("转换被中止");
const QString VideoBatch::ReasonDamaged = QStringLiteral("输入文件已损坏");
const QString VideoBatch::StatusTooLong = QStringLiteral("失败：命令行过长");
const QString VideoBatch::StatusStopped = QStringLiteral("已停止");

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

bool HasOutput(const QString &path)
{
    const QFileInfo out(path);
    return out.isFile() && out.size() > 0;
}

// The converter's line without its own name in front ("vv: input is not ..." reads
// "input is not ...").
QString ConverterMessage(const std::string &line)
{
    QString text = QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())).trimmed();
    if (text.startsWith(QLatin1String("vv: ")))
        text = text.mid(4).trimmed();
    return text;
}

QString Now()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace

VideoBatch::VideoBatch(FileListModel &list, VideoSettings &settings, VideoPrompts &prompts,
                       Config config, QObject *parent)
    : QObject(parent), m_list(list), m_settings(settings), m_prompts(prompts),
      m_config(std::move(config)), m_logs(m_config.logRoot),
      m_progress(m_config.appFolder,
                 m_config.progressPlace == ProgressPlace::BesideProgram
                     || (m_config.progressPlace == ProgressPlace::Auto
                         && StateLocations::IsPortable(m_config.appFolder)),
                 m_config.instanceFolder)
{
    if (m_config.converter.isEmpty())
        m_config.converter = m_config.appFolder + QStringLiteral("/vv");
    m_timer.setInterval(m_config.tickMs);
    connect(&m_timer, &QTimer::timeout, this, &VideoBatch::OnTimer);
    m_pauseTimer.setSingleShot(true);
    connect(&m_pauseTimer, &QTimer::timeout, this, &VideoBatch::EndPause);
}

VideoBatch::~VideoBatch()
{
    m_timer.stop();
    m_pauseTimer.stop();
    runner.reset(); // asks a running converter to end; the reaper forces it after the grace
}

QString VideoBatch::ProgressFilePath() const
{
    return m_progress.Path();
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

QString VideoBatch::NotificationText(int files, int failures)
{
    return QStringLiteral("视频转换完成：%1 个文件，%2 个失败").arg(files).arg(failures);
}

QString VideoBatch::CommonReason(const RunResult &result)
{
    const QString line = ConverterMessage(result.lastLine).toLower();
    auto says = [&line](std::initializer_list<const char *> words) {
        for (const char *word : words) {
            if (line.contains(QLatin1String(word)))
                return true;
        }
        return false;
    };
    if (result.outcome == RunOutcome::Killed)
        return result.signal == SIGTERM || result.signal == SIGINT || result.signal == SIGKILL
                   ? ReasonStopped
                   : QString();
    if (result.outcome != RunOutcome::Failed)
        return QString();
    switch (result.exitCode) {
    case 3: // the input
        if (says({"no video stream", "nothing to convert", "video frame"}))
            return ReasonNoVideo;
        if (says({"not a media file", "cannot open input", "invalid data"}))
            return ReasonNotMedia;
        if (says({"not found", "no such file"}))
            return ReasonInputMissing;
        if (says({"not readable", "cannot read", "permission denied", "folder, not a file",
                  "not a regular file"}))
            return ReasonInputUnreadable;
        return QString();
    case 4: // the output folder or file
        return ReasonCannotWrite;
    case 5: // decoding, encoding or writing
        if (says({"no space left", "disk full", "file too large", "size limit", "quota"}))
            return ReasonDiskFull;
        if (says({"invalid data", "decod", "damaged", "corrupt", "truncated"}))
            return ReasonDamaged;
        return QString();
    case 6: // SIGINT or SIGTERM
        return ReasonStopped;
    default:
        return QString();
    }
}

QString VideoBatch::FailureDetail(const RunResult &result, bool outputWritten)
{
    const QString said = ConverterMessage(result.lastLine);
    const bool failed = result.outcome == RunOutcome::Failed || result.outcome == RunOutcome::Killed
                        || (result.outcome == RunOutcome::Succeeded && !outputWritten);
    // The common reasons in the dialog's language; vv's own line stays in the file's log.
    if (failed) {
        const QString reason = CommonReason(result);
        if (!reason.isEmpty())
            return StatusFailed + QStringLiteral("：") + reason;
    }
    if (failed && !said.isEmpty())
        return StatusFailed + QStringLiteral("：") + said;
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
    // A typed folder that does not exist yet is made before the first file; when that is
    // impossible nothing is converted.
    if (outputFolder.isEmpty() || !QDir().mkpath(outputFolder)) {
        m_prompts.Message(QStringLiteral("无法创建输出目录：%1").arg(outputFolder),
                          QStringLiteral("提示信息"), true);
        return false;
    }
    ++m_generation;
    m_busy = true;
    fileCount = m_list.Count(); // what is left to do is known to those told of the start
    currentIndex = 0;
    emit busyChanged(true);
    // The audio codec is left out so the user's audio lists are not refilled now.
    m_settings.RefreshOptions(false);
    m_outputFolder = outputFolder;
    m_extension = m_settings.Extension();
    SetBar(0);
    m_states = QVector<FileState>(fileCount, FileState::Waiting);
    m_outputs = QVector<QString>(fileCount);
    m_commandLines = QVector<QString>(fileCount);
    m_failureTexts = QVector<QString>(fileCount);
    m_failureDetails = QVector<QString>(fileCount);
    m_names.clear();
    for (int i = 0; i < fileCount; ++i) {
        m_list.SetDetail(i, QString());
        m_list.SetLog(i, QString());
    }
    m_logFolder = m_logs.BeginBatch();

    const quint64 generation = m_generation;
    QPointer<VideoBatch> self(this);
    StartFile();
    if (!self || generation != m_generation)
        return true; // closed while the overwrite question was open
    m_timer.start(m_config.tickMs);
    RefreshStatuses();
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
    // batch has already written. It gets the first of " (2)", " (3)", ... that this batch has
    // not used (nor its own input); a file of that name from an earlier run is asked about like
    // any other.
    output = m_names.take(output, [&](const QString &path) { return path == input; });
    const QString name =
        QFileInfo(output).fileName().mid(prefix.size()).chopped(m_extension.size() + 1);
    if (ExistsAsFile(output)) {
        const quint64 generation = m_generation;
        QPointer<VideoBatch> self(this);
        const bool overwrite =
            m_prompts.AskOkCancel(QStringLiteral("输出目录%1中，已经有%2.%3，是否要覆盖？")
                                      .arg(m_outputFolder, name, m_extension),
                                  QStringLiteral("提示"));
        if (!self || generation != m_generation)
            return;
        if (!overwrite) {
            // The name asked about was not used after all; the renamed one is.
            m_names.release(output);
            output = OutputNaming::RenamedPath(m_outputFolder, name, m_extension, ExistsAtAll);
            m_names.hold(output);
        }
    }
    m_outputs[row] = output;

    const QString commandLine = ConverterCommand::Build(input, m_settings.Slots(), output);
    m_commandLines[row] = commandLine;
    const QString log = ConversionLogs::FileLog(m_logFolder, row, input);
    if (ConversionLogs::Append(log, QStringLiteral("输入：%1\n输出：%2\n命令行：%3\n开始：%4\n\n")
                                        .arg(input, output, commandLine, Now())))
        m_list.SetLog(row, log);
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
    // The converter is told where this window reads its progress (empty: beside itself).
    const QString progress = m_progress.Acquire();
    ConverterProgress::Reset(progress);
    const std::string progressVariable = std::string(ProgressSlot::EnvironmentName) + '='
                                         + QFile::encodeName(progress).toStdString();
    runner = std::make_unique<MirelFFmpeg>(
        commandLine.toStdString(), m_config.converter.toStdString(),
        QFile::encodeName(m_list.Log(row)).toStdString(),
        std::vector<std::string>{progressVariable},
        ConverterCommand::Arguments(input, m_settings.Slots(), output));
    m_starting = false;
}

void VideoBatch::FinishCurrent(const RunResult &result)
{
    const int row = currentIndex;
    bool ok = false;
    if (!m_startFailed) {
        const QString output = m_outputs.value(row);
        ok = result.outcome == RunOutcome::Succeeded && HasOutput(output);
        if (!ok) {
            m_failureTexts[row] = StatusFailed;
            m_failureDetails[row] = FailureDetail(result, HasOutput(output));
            // Missing output folder (removed during the batch): that is the reason.
            const QFileInfo out(output);
            if (result.outcome != RunOutcome::StartFailed && !out.dir().exists())
                m_failureDetails[row] = QStringLiteral("输出目录不存在：%1").arg(out.path());
        }
    }
    m_startFailed = false;
    m_states[row] = ok ? FileState::Done : FileState::Failed;
    LogResult(row);
}

void VideoBatch::LogResult(int row)
{
    QString outcome;
    switch (m_states.at(row)) {
    case FileState::Done:
        outcome = StatusDone;
        break;
    case FileState::Stopped:
        outcome = StatusStopped;
        break;
    default: {
        const QString detail = m_failureDetails.at(row);
        outcome = detail.startsWith(StatusFailed)
                      ? detail
                      : m_failureTexts.at(row) + QStringLiteral("：") + detail;
    }
    }
    ConversionLogs::Append(m_list.Log(row),
                           QStringLiteral("\n结束：%1\n结果：%2\n").arg(Now(), outcome));
}

void VideoBatch::OnTimer()
{
    if (!m_busy || m_stopping)
        return;
    if (m_pausing) {
        // Held back until the pause is over, as a sleeping dialog would get it then.
        m_tickHeld = true;
        return;
    }
    if (m_starting) {
        // A tick while the overwrite question is open only refreshes the statuses.
        RefreshStatuses();
        return;
    }
    if ((runner && runner->IsFinished()) || m_startFailed) {
        const RunResult result = runner ? runner->Result() : RunResult{};
        runner.reset(); // its converter has ended: nothing is left to stop

        FinishCurrent(result);
        if (currentIndex < fileCount - 1) {
            SetBar(ConverterProgress::Complete);
            ++currentIndex;
            const quint64 generation = m_generation;
            QPointer<VideoBatch> self(this);
            StartFile();
            if (!self || generation != m_generation)
                return;
            // The pause between files is part of the flow; the dialog stays responsive and
            // carries on when it is over.
            if (m_config.pauseMs > 0) {
                m_pausing = true;
                m_tickHeld = false;
                m_pauseTimer.start(m_config.pauseMs);
                RefreshStatuses(); // the finished file shows so at once; the bar stays full
                return;
            }
            SetBar(0);
        } else {
            m_busy = false;
            m_timer.stop();
            SetBar(ConverterProgress::Complete);
            RefreshStatuses();
            emit busyChanged(false);
            const int failures = Failures();
            emit completed(fileCount, failures);
            QPointer<VideoBatch> self(this);
            m_prompts.Message(CompletionText(failures), QStringLiteral("转换完成"), false);
            if (self)
                SetBar(ConverterProgress::Complete);
            return;
        }
    }
    RefreshStatuses();
}

void VideoBatch::EndPause()
{
    if (!m_pausing)
        return;
    m_pausing = false;
    SetBar(0);
    RefreshStatuses();
    if (m_tickHeld) {
        m_tickHeld = false;
        OnTimer();
    }
}

void VideoBatch::ShowFinal(int row)
{
    switch (m_states.at(row)) {
    case FileState::Failed:
        m_list.SetStatus(row, m_failureTexts.at(row));
        m_list.SetDetail(row, m_failureDetails.at(row));
        break;
    case FileState::Stopped:
        m_list.SetStatus(row, StatusStopped);
        m_list.SetDetail(row, QString());
        break;
    default:
        m_list.SetStatus(row, StatusDone);
        m_list.SetDetail(row, QString());
        break;
    }
}

void VideoBatch::RefreshStatuses()
{
    const int count = std::min(fileCount, m_list.Count());
    for (int i = 0; i < count; ++i) {
        const FileState state = m_states.at(i);
        if (state == FileState::Done || state == FileState::Failed || state == FileState::Stopped) {
            ShowFinal(i);
        } else if (i != currentIndex) {
            m_list.SetStatus(i, StatusWaiting);
        } else if (m_startFailed) {
            m_list.SetStatus(i, m_failureTexts.at(i));
            m_list.SetDetail(i, m_failureDetails.at(i));
        } else if (runner) {
            const ConverterProgress::View view =
                ConverterProgress::Interpret(ConverterProgress::Read(ProgressFilePath()));
            m_list.SetStatus(i, view.status);
            if (view.valid && view.barValue > m_bar)
                SetBar(view.barValue);
        }
    }
}

void VideoBatch::Stop(bool announce)
{
    if (m_stopping) {
        m_announceStop = m_announceStop && announce;
        return;
    }
    if (!m_busy)
        return;
    ++m_generation; // an open overwrite question starts nothing when it returns
    m_timer.stop();
    m_pauseTimer.stop();
    m_pausing = false;
    m_tickHeld = false;
    m_starting = false;
    m_stopping = true;
    m_announceStop = announce;
    emit stoppingChanged(true);
    if (runner) {
        // Asked to end now, killed after the grace time; the batch ends when it has gone (at
        // once when it already has).
        runner->Terminate();
        runner->WhenFinished([this](const RunResult &result) {
            const RunResult ended = result;
            runner.reset();
            FinishStop(&ended);
        });
    } else {
        FinishStop(nullptr);
    }
}

void VideoBatch::FinishStop(const RunResult *result)
{
    const int row = currentIndex;
    if (row >= 0 && row < m_states.size() && m_states.at(row) == FileState::Converting) {
        // A converter that had finished its file before the request keeps its outcome.
        if (result && result->outcome == RunOutcome::Succeeded && HasOutput(m_outputs.at(row)))
            m_states[row] = FileState::Done;
        else if (m_startFailed)
            m_states[row] = FileState::Failed;
        else
            m_states[row] = FileState::Stopped;
        LogResult(row);
    }
    m_startFailed = false;
    m_stopping = false;
    m_busy = false;
    RefreshStatuses();
    emit stoppingChanged(false);
    emit busyChanged(false);
    QPointer<VideoBatch> self(this);
    if (m_announceStop)
        m_prompts.Message(QStringLiteral("转换已停止"), QStringLiteral("提示信息"), true);
    if (self)
        emit stopped();
}

} // namespace vidrune
