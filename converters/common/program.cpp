#include "common/program.h"

#include "common/errors.h"
#include "common/progress.h"

extern "C" {
#include <libavutil/avutil.h>
}

#include <atomic>
#include <exception>
#include <new>
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
           "  2  bad command line: unknown option, bad value, bad preset file line\n"
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
    g_name = info.name;
    install_signal_handlers();
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
        body(args);
        return 0;
    } catch (const ConvError& e) {
        failure = e.kind();
        message = e.what();
    } catch (const std::bad_alloc&) {
        message = "out of memory";
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
