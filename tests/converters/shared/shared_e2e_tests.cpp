// End-to-end tests of what both converters promise alike, run on conv and on vv: nothing broken,
// lost or half-written whatever ends them (SIGKILL, a stop, a file-size limit, a link as output),
// inputs that are no regular file refused at once, damaged and invalid input converted as far as
// it goes with one warning, values the encoder cannot take changed with a note, --help and
// --version. Media are made here with the ffmpeg CLI. A child that is to be frozen, limited in
// file size or handed a pipe of its own is started with fork and exec (no shell); a plain run
// goes through tests/support.
#include "converters/shared/shared_test_support.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace sharedtest;

// ---------------------------------------------------------------------------------------------
// SIGKILL half-way (what the video dialog does when it is closed): a new output does not exist,
// a replaced one is the old file, and with O_TMPFILE nothing else is in the folder. Without it
// (ZMCONV_NAMED_TEMP), the killed writer's hidden temporary is the one thing left, and the next
// run writing the same output removes it.

TEST(Killed, MidwayLeavesNoOutputAndNoDebris)
{
    for (const Converter* c : kBoth)
        for (bool replace : {false, true})
            for (bool named : {false, true}) {
                SCOPED_TRACE(std::string(c->name) + (replace ? " replacing" : " new")
                             + (named ? " named temporary" : " unnamed"));
                Env& env = Env::get();
                const QString folder = env.fresh_folder();
                const QString name = QString("out put.") + c->ext;
                const QString out = folder + "/" + name;
                if (replace) {
                    ASSERT_TRUE(write_file(out, "old contents"));
                }
                const QStringList before = listing(folder);
                ASSERT_TRUE(reset_progress());
                ChildOptions options;
                if (named)
                    options.env << "ZMCONV_NAMED_TEMP=1";
                Child child(c->program(), c->args(env.media(c->long_input), out), options);
                ASSERT_TRUE(stop_under_way(child, *c)) << "finished before it could be killed";

                // The folder's entries but the writer's named temporary, which must be one of them.
                const QRegularExpression temporary(temp_pattern(name, child.pid()));
                auto without_temporary = [&](QStringList entries) {
                    const qsizetype removed = entries.removeIf(
                        [&](const QString& n) { return temporary.match(n).hasMatch(); });
                    EXPECT_EQ(removed, named ? 1 : 0) << entries.join(", ").toStdString();
                    return entries;
                };
                // Frozen half-way, and after the kill: only a named temporary shows.
                EXPECT_EQ(without_temporary(listing(folder)), before);
                child.signal(SIGKILL);
                EXPECT_EQ(child.wait(), 128 + SIGKILL);
                EXPECT_EQ(without_temporary(listing(folder)), before);
                EXPECT_EQ(QFileInfo::exists(out), replace);
                if (replace) {
                    EXPECT_EQ(contents(out), "old contents");
                }

                // The next run writing the output completes it and clears the gone writer's file.
                QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
                if (named)
                    variables.insert("ZMCONV_NAMED_TEMP", "1");
                const RunResult again =
                    run(c->program(), c->args(env.media(c->short_input), out), variables);
                ASSERT_EQ(again.exitCode, 0) << again.err.toStdString();
                EXPECT_EQ(listing(folder), QStringList{name});
                EXPECT_TRUE(probe(out).ok);
            }
}

// ---------------------------------------------------------------------------------------------
// A file-size limit (ulimit -f) mid-way: a write error, exit 5, and the old state everywhere:
// a new output, a replaced one, and one whose name is a link to a file elsewhere.

TEST(FileSizeLimit, IsAWriteErrorThatLeavesNothing)
{
    enum Case { New, Replace, Link };
    for (const Converter* c : kBoth)
        for (Case kind : {New, Replace, Link}) {
            SCOPED_TRACE(std::string(c->name) + " case " + std::to_string(kind));
            Env& env = Env::get();
            const QString folder = env.fresh_folder();
            const QString elsewhere = env.fresh_folder();
            const QString out = folder + "/limited." + c->ext;
            const QString real = elsewhere + "/real." + c->ext;
            if (kind == Replace) {
                ASSERT_TRUE(write_file(out, "old contents"));
            }
            if (kind == Link) {
                ASSERT_TRUE(write_file(real, "old contents"));
                ASSERT_TRUE(QFile::link(real, out));
            }
            const QStringList before = listing(folder);
            const QStringList before_elsewhere = listing(elsewhere);
            ChildOptions options;
            options.file_size_limit = rlim_t{100} * 1024;
            Child child(c->program(), c->args(env.media(c->long_input), out), options);
            child.read_until();
            const int code = child.wait();
            const QByteArray err = child.err();
            EXPECT_EQ(code, 5) << err.toStdString();
            EXPECT_TRUE(err.contains("File too large")) << err.toStdString();
            EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
            EXPECT_EQ(listing(folder), before);
            EXPECT_EQ(listing(elsewhere), before_elsewhere);
            if (kind == Replace) {
                EXPECT_EQ(contents(out), "old contents");
            }
            if (kind == Link) {
                EXPECT_EQ(QFileInfo(out).symLinkTarget(), real);
                EXPECT_EQ(contents(real), "old contents");
            }
        }
}

// ---------------------------------------------------------------------------------------------
// A link as output: a stopped run leaves the link and its file as they were; a complete one
// replaces only the file, the link stays.

TEST(LinkAsOutput, StoppedLeavesLinkAndFileCompleteReplacesTheFile)
{
    for (const Converter* c : kBoth) {
        SCOPED_TRACE(c->name);
        Env& env = Env::get();
        const QString folder = env.fresh_folder();
        const QString elsewhere = env.fresh_folder();
        const QString out = folder + "/link." + c->ext;
        const QString real = elsewhere + "/real." + c->ext;
        ASSERT_TRUE(write_file(real, "old contents"));
        ASSERT_TRUE(QFile::link(real, out));
        ASSERT_TRUE(reset_progress());
        {
            Child child(c->program(), c->args(env.media(c->long_input), out));
            ASSERT_TRUE(stop_under_way(child, *c)) << "finished before it could be stopped";
            child.signal(SIGTERM);
            child.signal(SIGCONT);
            EXPECT_EQ(child.wait(), 6);
            EXPECT_EQ(child.err(),
                      QByteArray(c->name) + ": interrupted; the partial output was removed\n");
        }
        EXPECT_EQ(QFileInfo(out).symLinkTarget(), real);
        EXPECT_EQ(contents(real), "old contents");
        EXPECT_EQ(listing(folder), QStringList{"link." + QString(c->ext)});
        EXPECT_EQ(listing(elsewhere), QStringList{"real." + QString(c->ext)});

        const RunResult done = run(c->program(), c->args(env.media(c->short_input), out));
        ASSERT_EQ(done.exitCode, 0) << done.err.toStdString();
        EXPECT_EQ(QFileInfo(out).symLinkTarget(), real);
        EXPECT_TRUE(probe(real).ok);
        EXPECT_EQ(listing(folder), QStringList{"link." + QString(c->ext)});
        EXPECT_EQ(listing(elsewhere), QStringList{"real." + QString(c->ext)});
    }
}

// ---------------------------------------------------------------------------------------------
// A stop exits 6 whatever the converter waits in. Here it waits on a pipe or FIFO that the test
// stops draining, which holds it at that point for as long as the test likes: no timing.

namespace {

int pipe_fill(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    const QByteArray block(4096, 'x');
    int total = 0;
    for (ssize_t n; (n = ::write(fd, block.data(), block.size())) > 0;)
        total += static_cast<int>(n);
    ::fcntl(fd, F_SETFL, flags);
    return total;
}

int bytes_waiting(int fd)
{
    int n = 0;
    ::ioctl(fd, FIONREAD, &n);
    return n;
}

// True while the process's main thread waits to write into a pipe: blocked in the write, or
// polling for room (the kernel's name for where it sleeps).
bool waits_on_a_pipe(pid_t pid)
{
    const QByteArray wchan = contents(QString("/proc/%1/wchan").arg(pid)).trimmed();
    return wchan.contains("pipe_write") || wchan.contains("poll");
}

// True once the child has the file open (its signal handlers are in place by then).
bool has_open(pid_t pid, const QString& file)
{
    const QDir fds(QString("/proc/%1/fd").arg(pid));
    for (const QString& fd :
         fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        char target[4096];
        const ssize_t n =
            ::readlink(fds.filePath(fd).toLocal8Bit().constData(), target, sizeof target);
        if (n > 0 && QString::fromLocal8Bit(target, n) == file)
            return true;
    }
    return false;
}

} // namespace

// conv's progress pipe is full before it starts: it is held before any output exists.
TEST(Stop, WhileTheProgressPipeIsFullBeforeAnyOutput)
{
    Env& env = Env::get();
    const QString folder = env.fresh_folder();
    const QString input = env.media("long.wav");
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    ::fcntl(fds[1], F_SETPIPE_SZ, 4096);
    ASSERT_GT(pipe_fill(fds[1]), 0);
    ChildOptions options;
    options.stdout_fd = fds[1];
    Child child(env.conv(), kConv.args(input, folder + "/o.mp3"), options);
    while (child.running() && !has_open(child.pid(), input))
        ::usleep(10000);
    child.signal(SIGTERM);
    EXPECT_EQ(child.wait(), 6);
    EXPECT_EQ(child.err(), "conv: interrupted\n");
    EXPECT_EQ(listing(folder), QStringList());
    ::close(fds[0]);
    ::close(fds[1]);
}

// conv's progress pipe fills up half-way (the reader stopped reading): the stop still ends it.
TEST(Stop, WhileTheProgressPipeIsFullHalfway)
{
    Env& env = Env::get();
    const QString folder = env.fresh_folder();
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    ::fcntl(fds[1], F_SETPIPE_SZ, 4096);
    ChildOptions options;
    options.stdout_fd = fds[1];
    // Raised to 48000 Hz stereo at 320k, the 10 minutes take seconds to encode, so the
    // conversion is still under way after the first progress line and the pipe is filled
    // (at 8000 Hz mono it can end between two of the half-second progress lines).
    const QStringList args{
        "-i", env.media("long.wav"), "-y", "-vn", "-ab", "320k", "-ar", "48000", "-ac",
        "2",  folder + "/o.mp3"};
    Child child(env.conv(), args, options);
    QByteArray seen;
    char buf[512];
    while (!seen.contains("time=")) {
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        ASSERT_GT(n, 0);
        seen.append(buf, n);
    }
    ASSERT_GT(pipe_fill(fds[1]), 0); // from now on every progress line waits
    // Its next progress line holds it (in the pipe's write, or in a wait for room). A kernel that
    // does not name where a process sleeps leaves the stop to come a little later instead.
    for (int looks = 0; looks < 3000 && child.running() && !waits_on_a_pipe(child.pid()); ++looks)
        ::usleep(10000);
    ASSERT_TRUE(child.running());
    child.signal(SIGTERM);
    EXPECT_EQ(child.wait(60000), 6) << "a stop did not end the wait";
    EXPECT_EQ(child.err(), "conv: interrupted; the partial output was removed\n");
    EXPECT_EQ(listing(folder), QStringList());
    ::close(fds[0]);
    ::close(fds[1]);
}

// The output is a FIFO: one whose reader never drains it, and one without a reader at all.
TEST(Stop, WhileWritingIntoAFifoNobodyDrains)
{
    for (const Converter* c : kBoth)
        for (bool reader : {true, false}) {
            SCOPED_TRACE(std::string(c->name) + (reader ? " full FIFO" : " FIFO without reader"));
            Env& env = Env::get();
            const QString folder = env.fresh_folder();
            const QString fifo = folder + "/out." + c->ext;
            ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
            const int read_end =
                reader ? ::open(fifo.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)
                       : -1;
            const QString input = env.media(c->long_input);
            Child child(c->program(), c->args(input, fifo));
            if (reader) {
                // Its output is far larger than the FIFO holds: once half full, it will wait.
                const int capacity = ::fcntl(read_end, F_GETPIPE_SZ);
                while (child.running() && bytes_waiting(read_end) < capacity / 2)
                    ::usleep(10000);
            } else {
                while (child.running() && !has_open(child.pid(), input))
                    ::usleep(10000);
            }
            ASSERT_TRUE(child.running());
            child.signal(SIGTERM);
            EXPECT_EQ(child.wait(), 6);
            EXPECT_EQ(child.err(), QByteArray(c->name) + ": interrupted\n");
            EXPECT_EQ(listing(folder), QStringList{"out." + QString(c->ext)});
            EXPECT_EQ(QFileInfo(fifo).isFile(), false); // still the FIFO
            if (read_end >= 0)
                ::close(read_end);
        }
}

// ---------------------------------------------------------------------------------------------
// Inputs that are not regular files are refused at once (a FIFO used to block for ever).

TEST(Inputs, NotRegularFilesAreRefusedAtOnce)
{
    Env& env = Env::get();
    const QString folder = env.fresh_folder();
    const QString fifo = folder + "/in.fifo";
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    const QString socket_path = folder + "/in.sock";
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket_path.toLocal8Bit().constData(),
                 sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    struct Row {
        QString input;
        const char* message;
    } rows[] = {{fifo, "input is a FIFO, not a regular file"},
                {socket_path, "input is a socket, not a regular file"},
                {"/dev/zero", "input is a device, not a regular file"},
                {folder, "input is a folder, not a file"}};
    for (const Converter* c : kBoth)
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(c->name) + " " + row.input.toStdString());
            const QString out = env.fresh_folder() + "/o." + c->ext;
            Child child(c->program(), c->args(row.input, out));
            EXPECT_EQ(child.wait(120000), 3) << "blocked or failed otherwise";
            EXPECT_EQ(child.err(),
                      QByteArray(c->name) + ": " + row.message + ": " + row.input.toUtf8() + "\n");
            EXPECT_FALSE(QFileInfo::exists(out));
        }
    ::close(sock);
}

// ---------------------------------------------------------------------------------------------
// NaN and infinite samples (made with aevalsrc): every encoder gets clean samples, the file is
// complete and one warning counts them. libmp3lame used to abort on them.

TEST(InvalidSamples, AreReplacedBeforeAnyEncoder)
{
    Env& env = Env::get();
    struct Row {
        Job job;
        const char* codec;
    } rows[] = {
        {{&kConv, "nan.wav", {}, "mp3"}, "mp3"},
        {{&kConv, "nan.wav", {}, "ogg"}, "vorbis"},
        {{&kConv, "nan.wav", {}, "aac"}, "aac"},
        {{&kConv, "nan.wav", {}, "wma"}, "wmav1"},
        {{&kConv, "nan.wav", {}, "ac3"}, "ac3"},
        {{&kConv, "nan.wav", {}, "flac"}, "flac"},
        {{&kConv, "nan.wav", {}, "wav"}, "pcm_s16le"},
        {{&kConv, "nan.wav", {}, "amr"}, "amr_nb"},
        {{&kVv, "nan-picture.mkv", {"-vcodec", "flv", "-acodec", "libmp3lame"}, "flv"}, "mp3"},
        {{&kVv, "nan-picture.mkv", {"-vcodec", "mpeg4", "-acodec", "aac"}, "mp4"}, "aac"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.job.trace());
        const QString out = env.fresh_folder() + "/nan." + row.job.ext;
        const RunResult r = row.job.run_into(out);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(r.err, QByteArray(row.job.converter->name)
                             + ": warning: 3 invalid samples (not a number, infinite or far past "
                               "full scale) replaced\n");
        const Probe p = probe(out);
        ASSERT_TRUE(p.audio());
        EXPECT_EQ(p.audio()->codec, row.codec);
        EXPECT_NEAR(decoded_seconds(out), 2.0, 0.1);
    }
}

// ---------------------------------------------------------------------------------------------
// A damaged AAC stream (bytes flipped with a fixed seed): each converter keeps at least as much
// sound as the ffmpeg CLI does, and says how many packets it skipped. One such packet used to
// fail the whole file.

namespace {

// A copy of file with count bytes of its media data (the mdat box) flipped.
QString damaged_copy(const QString& file, int count, unsigned seed)
{
    QByteArray d = contents(file);
    qsizetype start = -1, end = -1;
    for (qsizetype at = 0; at + 8 <= d.size();) {
        const quint32 size = (quint32(quint8(d[at])) << 24) | (quint32(quint8(d[at + 1])) << 16)
                             | (quint32(quint8(d[at + 2])) << 8) | quint32(quint8(d[at + 3]));
        if (d.mid(at + 4, 4) == "mdat") {
            start = at + 8;
            end = std::min<qsizetype>(d.size(), at + size);
            break;
        }
        if (size < 8)
            break;
        at += size;
    }
    if (start < 0)
        return {};
    std::mt19937 rng(seed);
    for (int i = 0; i < count; ++i) {
        const qsizetype at =
            start + static_cast<qsizetype>(rng() % static_cast<unsigned>(end - start));
        d[at] = static_cast<char>(d[at] ^ 0xff);
    }
    const QString out = file + QString(".damaged-%1.mp4").arg(seed);
    return write_file(out, d) ? out : QString();
}

} // namespace

TEST(DamagedInput, KeepsAtLeastWhatTheCliKeeps)
{
    Env& env = Env::get();
    struct Row {
        Job job;
        unsigned seed;
    } rows[] = {
        {{&kConv, "sound-aac.mp4", {"-vn"}, "wav"}, 7},
        {{&kConv, "sound-aac.mp4", {"-vn"}, "mp3"}, 11},
        {{&kVv, "picture-aac.mp4", {"-vcodec", "mpeg4", "-acodec", "pcm_s16le"}, "avi"}, 7},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.job.trace() + " seed " + std::to_string(row.seed));
        const QString damaged = damaged_copy(env.media(row.job.input), 40, row.seed);
        ASSERT_FALSE(damaged.isEmpty());
        const QString folder = env.fresh_folder();
        const QString cli_out = folder + "/cli.wav";
        makeMedia(cli_out, {"-i", damaged, "-vn", "-c:a", "pcm_s16le"});
        const double cli_seconds = decoded_seconds(cli_out);

        const QString out = folder + "/ours." + row.job.ext;
        const RunResult r = row.job.run_into(out, damaged);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_GE(decoded_seconds(out), cli_seconds - 0.05)
            << "the CLI keeps " << cli_seconds << " s";
        const QRegularExpression warning(
            "^" + QString(row.job.converter->name)
            + ": warning: [1-9][0-9]* damaged packets? skipped(; .*)?\n$");
        EXPECT_TRUE(warning.match(QString::fromUtf8(r.err)).hasMatch()) << r.err.toStdString();
    }
}

// An input cut short (its header still states the whole length) converts as far as it goes and
// says where it ended.
TEST(DamagedInput, EndingBeforeItsStatedLengthIsSaid)
{
    Env& env = Env::get();
    const Job jobs[] = {
        {&kConv, "three.flv", {"-vn"}, "wav"},
        {&kVv, "three.flv", {"-vcodec", "flv", "-acodec", "libmp3lame"}, "flv"},
    };
    for (const Job& job : jobs) {
        SCOPED_TRACE(job.trace());
        const QByteArray whole = contents(env.media(job.input));
        const QString cut = env.fresh_folder() + "/cut-" + job.input;
        ASSERT_TRUE(write_file(cut, whole.left(whole.size() * 2 / 3)));
        const QString out = env.fresh_folder() + "/cut." + job.ext;
        const RunResult r = job.run_into(out, cut);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        const QRegularExpression warning(
            "^" + QString(job.converter->name)
            + ": warning: (.*; )?the input ends at 00:00:0[12]\\.[0-9]{2}, "
              "before its stated length of 00:00:03\\.[0-9]{2}\n$");
        EXPECT_TRUE(warning.match(QString::fromUtf8(r.err)).hasMatch()) << r.err.toStdString();
        const double kept = decoded_seconds(out);
        EXPECT_GT(kept, 1.5);
        EXPECT_LT(kept, 2.5);
    }
}

// ---------------------------------------------------------------------------------------------
// Values the encoder cannot take become the nearest it can, with a note each; the video dialog
// offers several such combinations and they keep converting.

TEST(Notes, EachChangedValueIsSaid)
{
    Env& env = Env::get();
    struct Row {
        Job job;
        int rate, channels; // of the output's sound
        QByteArray notes;   // every line on stderr
    } rows[] = {
        {{&kConv, "short.wav", {"-ar", "44100", "-ab", "192k"}, "mp3"}, 44100, 1, ""},
        {{&kConv, "short.wav", {"-ar", "12050"}, "mp3"},
         12000,
         1,
         "conv: note: libmp3lame cannot encode 12050 Hz; using 12000 Hz\n"},
        {{&kConv, "surround.wav", {"-ac", "8"}, "mp3"},
         44100,
         2,
         "conv: note: libmp3lame cannot encode 8 channels; using 2\n"},
        {{&kConv, "short.wav", {"-ab", "1"}, "mp3"},
         44100,
         1,
         "conv: note: libmp3lame cannot encode 1 bit/s at 44100 Hz; using 32 kbit/s\n"},
        {{&kConv, "short.wav", {"-ar", "96000"}, "wma"},
         48000,
         1,
         "conv: note: wmav1 cannot encode 96000 Hz; using 48000 Hz\n"},
        {{&kConv, "short.wav", {"-ab", "100k"}, "ac3"},
         44100,
         1,
         "conv: note: ac3 cannot encode 100 kbit/s at 44100 Hz; using 96 kbit/s\n"},
        {{&kConv, "short.wav", {"-ar", "44100", "-ac", "2", "-ab", "7.7k"}, "amr"},
         8000,
         1,
         "conv: note: libopencore_amrnb cannot encode 44100 Hz; using 8000 Hz\n"
         "conv: note: libopencore_amrnb cannot encode 2 channels; using 1\n"
         "conv: note: libopencore_amrnb cannot encode 7.7 kbit/s at 8000 Hz; using 7.95 kbit/s\n"},
        // short.mp4's sound is mono.
        {{&kVv,
          "short.mp4",
          {"-vcodec", "mpeg4", "-acodec", "mp2", "-ar", "8000", "-ab", "128k"},
          "avi"},
         16000,
         1,
         "vv: note: mp2 cannot encode 8000 Hz; using 16000 Hz\n"},
        {{&kVv,
          "short.mp4",
          {"-vcodec", "mpeg4", "-acodec", "aac", "-ar", "8000", "-ac", "1", "-ab", "160k"},
          "3g2"},
         8000,
         1,
         "vv: note: aac cannot encode 160 kbit/s at 8000 Hz; using 48 kbit/s\n"},
        {{&kVv, "short.mp4", {"-vcodec", "mpeg4", "-acodec", "aac", "-ac", "2", "-ab", "1"}, "mp4"},
         44100,
         2,
         "vv: note: aac cannot encode 1 bit/s at 44100 Hz; using 16 kbit/s\n"},
        {{&kVv,
          "short.mp4",
          {"-vcodec", "mpeg4", "-acodec", "libmp3lame", "-ar", "22050", "-ab", "320k"},
          "avi"},
         22050,
         1,
         "vv: note: libmp3lame cannot encode 320 kbit/s at 22050 Hz; using 160 kbit/s\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.job.trace());
        const QString out = env.fresh_folder() + "/n." + row.job.ext;
        const RunResult r = row.job.run_into(out);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(r.err, row.notes);
        const Probe p = probe(out);
        ASSERT_TRUE(p.audio());
        EXPECT_EQ(p.audio()->sampleRate, row.rate);
        EXPECT_EQ(p.audio()->channels, row.channels);
    }
}

// ---------------------------------------------------------------------------------------------
// Words: --help and --version, one dash before an option in an error.

TEST(Words, HelpVersionAndBadValues)
{
    for (const Converter* c : kBoth) {
        SCOPED_TRACE(c->name);
        const RunResult help = run(c->program(), {"--help"});
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_TRUE(help.out.startsWith(QByteArray("usage: ") + c->name + " -i INPUT"))
            << help.out.toStdString();
        for (const char* code :
             {"  0  the output is complete", "  2  bad command line", "  3  the input",
              "  4  the output folder", "  5  decoding, encoding or writing", "  6  stopped"})
            EXPECT_TRUE(help.out.contains(code)) << code;
        EXPECT_TRUE(help.err.isEmpty());

        const RunResult version = run(c->program(), {"--version"});
        EXPECT_EQ(version.exitCode, 0);
        EXPECT_TRUE(QRegularExpression(QString("^") + c->name + " [0-9.]+, on FFmpeg \\S+\n$")
                        .match(QString::fromUtf8(version.out))
                        .hasMatch())
            << version.out.toStdString();
    }
    struct Row {
        const Converter* converter;
        QStringList args;
        QByteArray err;
    } rows[] = {
        {&kVv,
         {"-i", "in.mp4", "-b", "0", "o.avi"},
         "vv: invalid value \"0\" for -b: out of range\n"},
        {&kVv,
         {"-i", "in.mp4", "-ab", "fast", "o.avi"},
         "vv: invalid value \"fast\" for -ab: expected a bit rate such as 192k\n"},
        {&kVv,
         {"-i", "in.mp4", "-s", "176x145", "o.avi"},
         "vv: invalid value \"176x145\" for -s: width and height must be even\n"},
        {&kConv,
         {"-i", "in.mp4", "-ab", "0", "o.mp3"},
         "conv: invalid value \"0\" for -ab: out of range\n"},
    };
    for (const Row& row : rows) {
        const RunResult r = run(row.converter->program(), row.args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.err, row.err);
    }
}
