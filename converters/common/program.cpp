#include "common/program.h"

#include "common/errors.h"
#include "common/progress.h"

extern "C" {
#include <libavutil/avutil.h>
}

#include <atomic>
#include <exception>
#include <fcntl.h>
#include <new>
#include <system_error>
#include <unistd.h>

#ifndef ZM_VERSION
#define ZM_VERSION "0"
#endif

namespace zmconv {

namespace {

std::string g_name = "converter";
std::atomic<bool> g_partial_removed{false};

void line(const std::string& kind, const std::string& text)
{
    write_text(STDERR_FILENO, g_name + ": " + kind + text + "\n");
}

} // namespace

std::string exit_code_help()
{
    return "Exit codes:\n"
           "  0  the output is complete\n"
           "  2  bad command line: unknown option, bad value, bad preset file line, a progress\n"
           "     file that is the input, the output or another file\n"
           "  3  the input is missing, unreadable, not a regular file, not media, or has no\n"
           "     usable stream\n"
           "  4  the output folder is missing or not writable, or the output exists without -y\n"
           "  5  decoding, encoding or writing failed (also a full disk or a file-size limit)\n"
           "  6  stopped (SIGINT or SIGTERM)\n"
           "On any exit but 0 no new output exists and an earlier file of the output's name is\n"
           "unchanged.\n";
}

std::string version_text(const char* name)
{
    return std::string(name) + " " + ZM_VERSION + ", on FFmpeg " + av_version_info() + "\n";
}

void note(const std::string& text)
{
    line("note: ", text);
}

void warn(const std::string& text)
{
    line("warning: ", text);
}

StandardErrorSilenced::StandardErrorSilenced()
{
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0)
        return;
    m_saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (m_saved >= 0)
        ::dup2(null, STDERR_FILENO);
    ::close(null);
}

StandardErrorSilenced::~StandardErrorSilenced()
{
    if (m_saved < 0)
        return;
    ::dup2(m_saved, STDERR_FILENO);
    ::close(m_saved);
}

void set_partial_output_removed(bool removed)
{
    g_partial_removed.store(removed);
}

bool partial_output_removed()
{
    return g_partial_removed.load();
}

int run_program(const ProgramInfo& info, int argc, char** argv,
                const std::function<void(const std::vector<std::string>&)>& body)
{
    // First of all: a stop sent while the program was loading waits, blocked, for these handlers
    // (the front ends start converters with SIGINT and SIGTERM blocked) and arrives now.
    install_signal_handlers();
    g_name = info.name;
    capture_library_log();
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "-help")) {
        write_text(STDOUT_FILENO, std::string(info.usage) + "\n" + exit_code_help());
        return 0;
    }
    if (!args.empty() && (args[0] == "--version" || args[0] == "-version")) {
        write_text(STDOUT_FILENO, version_text(info.name));
        return 0;
    }

    Failure failure = Failure::Codec;
    std::string message;
    try {
        throw_if_stopped(); // stopped before it began: nothing is opened or written
        body(args);
        return 0;
    } catch (const ConvError& e) {
        failure = e.kind();
        message = e.what();
    } catch (const std::bad_alloc&) {
        message = out_of_memory().what();
    } catch (const std::system_error& e) {
        // A thread that cannot be started (its stack cannot be mapped) is a lack of memory too.
        const bool memory = e.code() == std::errc::resource_unavailable_try_again
                            || e.code() == std::errc::not_enough_memory;
        message = memory ? out_of_memory().what() : e.what();
    } catch (const std::exception& e) {
        message = e.what();
    }
    // A stop ends whatever call was under way, and that call may fail in its own words (a read
    // that was cut short, a write that was interrupted): the run was stopped all the same.
    if (stop_requested() || failure == Failure::Interrupted) {
        failure = Failure::Interrupted;
        message = "interrupted";
        if (partial_output_removed())
            message += "; the partial output was removed";
    }
    write_text(STDERR_FILENO, g_name + ": " + message + "\n");
    return static_cast<int>(failure);
}

} // namespace zmconv
