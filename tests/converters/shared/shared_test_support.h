// Helpers of the end-to-end tests of both converters: children started without a shell (to be
// frozen, limited or handed a pipe of their own), media made with the ffmpeg CLI and a private
// copy of vv with its own progress.txt, the two converters with a long and a short job each.
#pragma once

#include "support/media.h"
#include "support/probe.h"
#include "support/process.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace sharedtest {

using testsupport::makeMedia;
using testsupport::Probe;
using testsupport::probe;
using testsupport::RunResult;

// A plain conversion's time limit.
constexpr int kRunLimitMs = 300000;

// ---------------------------------------------------------------------------------------------
// Children started without a shell.

struct ChildOptions {
    QStringList env; // extra NAME=VALUE entries
    rlim_t file_size_limit = RLIM_INFINITY;
    rlim_t address_space_limit = RLIM_INFINITY; // ulimit -v, in bytes
    int stdout_fd = -1;                         // the child's stdout; -1: a pipe this side reads
    // Started with posix_spawn and SIGINT and SIGTERM blocked, as the front ends start the
    // converters (no limits then).
    bool stops_blocked = false;
};

class Child
{
public:
    Child(const QString& program, const QStringList& args, const ChildOptions& options = {})
    {
        std::vector<QByteArray> argv_text{program.toLocal8Bit()};
        for (const QString& a : args)
            argv_text.push_back(a.toLocal8Bit());
        std::vector<char*> argv;
        argv.reserve(argv_text.size() + 1);
        for (QByteArray& a : argv_text)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<QByteArray> env_text;
        for (char** e = environ; *e; ++e)
            env_text.emplace_back(*e);
        for (const QString& e : options.env)
            env_text.push_back(e.toLocal8Bit());
        std::vector<char*> envp;
        envp.reserve(env_text.size() + 1);
        for (QByteArray& e : env_text)
            envp.push_back(e.data());
        envp.push_back(nullptr);

        char err_name[] = "/tmp/zm-child-err-XXXXXX";
        m_err = ::mkostemp(err_name, O_CLOEXEC);
        ::unlink(err_name);
        int out[2] = {-1, -1};
        if (options.stdout_fd < 0 && ::pipe2(out, O_CLOEXEC) != 0)
            return;
        const int child_out = options.stdout_fd >= 0 ? options.stdout_fd : out[1];
        const rlim_t limit = options.file_size_limit;
        const rlim_t memory = options.address_space_limit;
        if (options.stops_blocked) {
            posix_spawn_file_actions_t actions;
            posix_spawnattr_t attributes;
            posix_spawn_file_actions_init(&actions);
            posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
            posix_spawn_file_actions_adddup2(&actions, child_out, STDOUT_FILENO);
            posix_spawn_file_actions_adddup2(&actions, m_err, STDERR_FILENO);
            posix_spawn_file_actions_addclosefrom_np(&actions, 3);
            posix_spawnattr_init(&attributes);
            sigset_t stops;
            sigemptyset(&stops);
            sigaddset(&stops, SIGINT);
            sigaddset(&stops, SIGTERM);
            posix_spawnattr_setsigmask(&attributes, &stops);
            posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
            if (::posix_spawn(&m_pid, argv[0], &actions, &attributes, argv.data(), envp.data())
                != 0)
                m_pid = -1;
            posix_spawnattr_destroy(&attributes);
            posix_spawn_file_actions_destroy(&actions);
        } else {
            m_pid = ::fork();
        }
        if (m_pid == 0) {
            // Only async-signal-safe calls from here on.
            const int null = ::open("/dev/null", O_RDONLY);
            ::dup2(null, STDIN_FILENO);
            ::dup2(child_out, STDOUT_FILENO);
            ::dup2(m_err, STDERR_FILENO);
            ::close_range(3, ~0U, 0);
            if (limit != RLIM_INFINITY) {
                const rlimit r{limit, limit};
                ::setrlimit(RLIMIT_FSIZE, &r);
            }
            if (memory != RLIM_INFINITY) {
                const rlimit r{memory, memory};
                ::setrlimit(RLIMIT_AS, &r);
            }
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        if (out[1] >= 0)
            ::close(out[1]);
        m_out = out[0];
    }
    ~Child()
    {
        if (running()) {
            ::kill(m_pid, SIGKILL);
            wait();
        }
        if (m_out >= 0)
            ::close(m_out);
        if (m_err >= 0)
            ::close(m_err);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return m_pid; }
    bool running()
    {
        if (m_pid <= 0 || m_reaped)
            return false;
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_reaped = true;
            m_status = status;
            return false;
        }
        return true;
    }
    // Waits for the end; the exit code, or 128 + the signal that ended it, or -1 when it did
    // not end within limit_ms (a hang; it is killed then).
    int wait(int limit_ms = 300000)
    {
        for (int waited = 0; running(); waited += 10) {
            if (waited >= limit_ms) {
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, &m_status, 0);
                m_reaped = true;
                return -1;
            }
            ::usleep(10000);
        }
        return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : 128 + WTERMSIG(m_status);
    }
    void signal(int sig) { ::kill(m_pid, sig); }
    // Reads stdout until it holds marker (or, without one, until it ends); returns what was read.
    QByteArray read_until(const QByteArray& marker = {})
    {
        char buf[4096];
        while (marker.isEmpty() || !m_read.contains(marker)) {
            const ssize_t n = ::read(m_out, buf, sizeof buf);
            if (n <= 0)
                break;
            m_read.append(buf, n);
        }
        return m_read;
    }
    QByteArray err() const
    {
        QByteArray text;
        char buf[4096];
        off_t at = 0;
        for (ssize_t n; (n = ::pread(m_err, buf, sizeof buf, at)) > 0; at += n)
            text.append(buf, n);
        return text;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    bool m_reaped = false;
    int m_status = 0;
    QByteArray m_read;
};

inline RunResult run(const QString& program, const QStringList& args,
                     const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    return testsupport::run(program, args, kRunLimitMs, env);
}

// What `ls -A` shows of a folder.
inline QStringList listing(const QString& folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

inline QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool write_file(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

// ---------------------------------------------------------------------------------------------
// Media and a private copy of vv (with its own progress.txt).

class Env
{
public:
    static Env& get()
    {
        static Env env;
        return env;
    }
    QString root() const { return m_dir.path(); }
    QString vv() const { return m_dir.path() + "/app/vv"; }
    QString progress_path() const { return m_dir.path() + "/app/progress.txt"; }
    QString conv() const { return QStringLiteral(CONV_PATH); }
    QString fresh_folder()
    {
        QString p = m_dir.path() + QString("/out%1").arg(++m_folders);
        QDir().mkpath(p);
        return p;
    }

    QString media(const QString& name)
    {
        QString path = m_dir.path() + "/media/" + name;
        if (QFileInfo::exists(path))
            return path;
        const QString tone = "sine=frequency=440:sample_rate=44100:duration=";
        static const std::map<QString, QStringList> recipes = {
            // conv's long job: ten minutes of 8 kHz mono (a few seconds of work).
            {"long.wav",
             {"-f", "lavfi", "-i", "sine=frequency=300:sample_rate=8000:duration=600", "-c:a",
              "pcm_s16le"}},
            {"short.wav", {"-f", "lavfi", "-i", tone + "1", "-c:a", "pcm_s16le"}},
            // vv's long job: half a minute of VGA picture with sound.
            {"long.mp4",
             {"-f", "lavfi", "-i", "testsrc2=size=640x480:rate=25:duration=30", "-f", "lavfi", "-i",
              tone + "30", "-c:v", "mpeg4", "-q:v", "5", "-c:a", "aac", "-shortest"}},
            {"short.mp4",
             {"-f", "lavfi", "-i", "testsrc=size=176x144:rate=25:duration=1", "-f", "lavfi", "-i",
              tone + "1", "-c:v", "mpeg4", "-c:a", "aac", "-shortest"}},
            // One NaN, one +Inf and one -Inf sample among float sound.
            {"nan.wav",
             {"-f", "lavfi", "-i",
              // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): one expression in two pieces
              "aevalsrc=exprs='if(eq(n\\,1000)\\,0/0\\,if(eq(n\\,2000)\\,1/"
              "0\\,if(eq(n\\,3000)\\,-1/0\\,"
              "0.5*sin(n/10))))':s=44100:d=2",
              "-c:a", "pcm_f32le"}},
            {"sound-aac.mp4",
             {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=3", "-ac", "2",
              "-c:a", "aac"}},
            {"picture-aac.mp4",
             {"-f", "lavfi", "-i", "testsrc=size=176x144:rate=25:duration=3", "-f", "lavfi", "-i",
              "sine=frequency=440:sample_rate=48000:duration=3", "-ac", "2", "-c:v", "mpeg4",
              "-c:a", "aac", "-shortest"}},
            {"surround.wav", {"-f", "lavfi", "-i", tone + "1", "-ac", "6", "-c:a", "pcm_s16le"}},
            {"three.flv",
             {"-f", "lavfi", "-i", "testsrc=size=176x144:rate=25:duration=3", "-f", "lavfi", "-i",
              tone + "3", "-c:v", "flv", "-c:a", "libmp3lame", "-shortest"}},
            // Eight seconds of VP8 and Vorbis (timestamps of damaged copies are made from it).
            {"eight.webm",
             {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=8", "-f", "lavfi", "-i",
              tone + "8", "-c:v", "libvpx", "-c:a", "libvorbis"}},
            // Eight seconds of MPEG-4 and AAC in Matroska whose 190th sound packet (at 4.4 s) is
            // stamped 16.4 s ahead of its place (a damaged file).
            {"stamp-ahead.mkv",
             {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=8", "-f", "lavfi", "-i",
              tone + "8", "-c:v", "mpeg4", "-c:a", "aac", "-bsf:a",
              "setts=pts=if(eq(N\\,190)\\,PTS+16400\\,PTS)"}},
        };
        QStringList args;
        const QString base = name.startsWith("nan-") ? "nan.wav" : name;
        if (name.startsWith("nan-picture")) {
            // nan.wav's sound beside a picture.
            args << "-f"
                 << "lavfi"
                 << "-i"
                 << "testsrc=size=176x144:rate=25:duration=2"
                 << "-i" << media("nan.wav") << "-c:v"
                 << "mpeg4"
                 << "-c:a"
                 << "pcm_f32le"
                 << "-shortest";
        } else {
            const auto it = recipes.find(base);
            if (it == recipes.end()) {
                ADD_FAILURE() << "no recipe for " << name.toStdString();
                return path;
            }
            args = it->second;
        }
        EXPECT_TRUE(makeMedia(path, args)) << name.toStdString();
        return path;
    }

private:
    Env()
    {
        QDir(m_dir.path()).mkpath("app");
        QDir(m_dir.path()).mkpath("media");
        QFile::copy(VV_PATH, vv());
        QFile::setPermissions(vv(), QFile::permissions(VV_PATH));
    }
    QTemporaryDir m_dir{QDir::tempPath() + "/zm-shared-e2e-XXXXXX"};
    int m_folders = 0;
};

// Seconds of sound a player gets from the file: the sound decoded to the end.
inline double decoded_seconds(const QString& file)
{
    const QString wav = file + ".decoded.wav";
    makeMedia(wav, {"-i", file, "-vn", "-c:a", "pcm_s16le"});
    const double seconds = probe(wav).duration;
    QFile::remove(wav);
    return seconds;
}

// ---------------------------------------------------------------------------------------------
// The two converters, each with a long job to be interrupted and a short one.

struct Converter {
    const char* name;
    const char* ext;        // the output's extension
    const char* long_input; // media name
    const char* short_input;
    QStringList options; // between the input and the output

    QString program() const
    {
        return QString(name) == "conv" ? Env::get().conv() : Env::get().vv();
    }
    QStringList args(const QString& in, const QString& out) const
    {
        return QStringList{"-i", in, "-y"} + options + QStringList{out};
    }
};

inline const Converter kConv{"conv", "mp3", "long.wav", "short.wav", {"-vn"}};
inline const Converter kVv{
    "vv",
    "avi",
    "long.mp4",
    "short.mp4",
    {"-vcodec", "mpeg4", "-b", "2000k", "-acodec", "mp2", "-ar", "44100", "-ab", "128k"}};
inline const Converter* const kBoth[] = {&kConv, &kVv};

// One conversion of a table: the converter, its input (a media name), the options between input
// and output, the output's extension.
struct Job {
    const Converter* converter;
    const char* input;
    QStringList options;
    const char* ext;

    // Converts the input file in (the job's own input when empty) into out.
    RunResult run_into(const QString& out, const QString& in = {}) const
    {
        const QString input_path = in.isEmpty() ? Env::get().media(input) : in;
        return run(converter->program(),
                   QStringList{"-i", input_path, "-y"} + options + QStringList{out});
    }
    std::string trace() const
    {
        return std::string(converter->name) + " " + options.join(' ').toStdString() + " ." + ext;
    }
};

// Waits until the child's conversion is under way (conv has printed a position, vv has shown
// progress), then freezes it with SIGSTOP. False when it ended first.
inline bool stop_under_way(Child& child, const Converter& c)
{
    if (QString(c.name) == "conv") {
        child.read_until("time=");
    } else {
        while (child.running()) {
            bool ok = false;
            if (contents(Env::get().progress_path()).toInt(&ok) > 0 && ok)
                break;
            ::usleep(10000);
        }
    }
    child.signal(SIGSTOP);
    return child.running();
}

inline bool reset_progress()
{
    return write_file(Env::get().progress_path(), "0");
}

inline QString temp_pattern(const QString& name, pid_t pid)
{
    return "^\\." + QRegularExpression::escape(name) + "\\.partial-[0-9a-f]{8}-"
           + QString::number(pid) + "-[A-Za-z0-9]{6}$";
}

} // namespace sharedtest
