// A stand-in for the converter `vv`, built by the tests. It behaves according to words in the
// input file name: "hang" never ends by itself (SIGTERM makes it say so on stderr and exit 6,
// as vv does), "stubborn" never ends and ignores SIGTERM, "silentfail" exits 3 without a word,
// "fail" prints a warning and an error line on stderr and exits 3, "nooutput" exits 0 without
// output, "slow" moves progress.txt from 0 to 1000 over FAKE_VV_SLOW_MS (default 1200 ms),
// "over" writes 1005; anything else writes 500, the output file, 1000 and exits 0.
// Like vv it keeps its progress in the file VV_PROGRESS_FILE names, or in progress.txt beside
// itself when that is unset or empty. Beside itself it keeps "calls.log" (one input path per
// run), "last_args" (the arguments of the last run, each ended by a NUL byte), "pid" and, once
// a SIGTERM has arrived, "got_term".
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

std::string Folder()
{
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return ".";
    std::string path(buffer, static_cast<std::size_t>(n));
    return path.substr(0, path.rfind('/'));
}

std::string g_progress;

void WriteProgress(int value)
{
    std::ofstream(g_progress, std::ios::trunc) << value;
}

void Sleep(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string g_folder;
bool g_exitOnTerm = true;

extern "C" void OnTerm(int)
{
    // Not async-signal-safe in general; good enough for a test stand-in that does nothing else.
    std::ofstream(g_folder + "/got_term") << "TERM";
    if (g_exitOnTerm) {
        std::fprintf(stderr, "vv: interrupted, the partial output was removed\n");
        std::_Exit(6);
    }
}

} // namespace

int main(int argc, char **argv)
{
    const std::string folder = Folder();
    const char *named = std::getenv("VV_PROGRESS_FILE");
    g_progress = named && *named ? std::string(named) : folder + "/progress.txt";
    std::string input, output;
    {
        std::ofstream args(folder + "/last_args", std::ios::trunc | std::ios::binary);
        for (int i = 0; i < argc; ++i)
            args << argv[i] << '\0';
    }
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "-i") == 0)
            input = argv[i + 1];
    if (argc > 1)
        output = argv[argc - 1];
    std::ofstream(folder + "/calls.log", std::ios::app) << input << '\n';
    std::ofstream(folder + "/pid", std::ios::trunc) << getpid();

    const std::string name = input.substr(input.rfind('/') + 1);
    auto has = [&](const char *word) { return name.find(word) != std::string::npos; };

    if (has("hang") || has("stubborn")) {
        g_folder = folder;
        g_exitOnTerm = has("hang");
        std::signal(SIGTERM, OnTerm);
        // Started with SIGTERM and SIGINT blocked, like vv it lets them in once its handler is
        // in place.
        sigset_t stops;
        sigemptyset(&stops);
        sigaddset(&stops, SIGTERM);
        sigaddset(&stops, SIGINT);
        sigprocmask(SIG_UNBLOCK, &stops, nullptr);
        WriteProgress(100);
        for (;;)
            Sleep(1000);
    }
    if (has("silentfail"))
        return 3;
    if (has("fail")) {
        std::fprintf(stderr, "vv: warning: damaged packet skipped\n");
        std::fprintf(stderr, "vv: input is not a media file\n\n");
        return 3;
    }
    if (has("slow")) {
        const char *env = std::getenv("FAKE_VV_SLOW_MS");
        const int total = env ? std::atoi(env) : 1200;
        for (int step = 0; step <= 4; ++step) {
            WriteProgress(step * 250);
            Sleep(total / 4);
        }
    } else if (has("over")) {
        WriteProgress(1005);
        Sleep(300);
    } else {
        WriteProgress(500);
    }
    if (!has("nooutput")) {
        std::ofstream out(output, std::ios::trunc | std::ios::binary);
        if (!out)
            return 1;
        out << "fake output of " << input << '\n';
    }
    WriteProgress(1000);
    return 0;
}
