// A child for the tests of the process model and the pool. Each argument is one step, done in
// order: "out:TEXT" and "err:TEXT" write a line to standard output or error ("\n" in TEXT is a
// line end), "bytes:N" writes N bytes of numbered lines to standard output, "sleep:MS",
// "exit:N", "crash" (abort), "ignore-term", "handle-term" (SIGTERM and SIGINT print
// "interrupted" on standard error and end with 6, as the converters do, once unblocked),
// "unblock" (lets SIGTERM and SIGINT in), "signals:FILE" (the blocked, ignored and caught sets
// as the kernel shows them), "fds:FILE" (the open descriptors, one a line), "env:FILE" (the
// environment, one entry a line), "fd3:TEXT" (writes TEXT to descriptor 3), "split-utf8"
// (a two-byte letter cut between two writes), "grandchild:MS:FILE" (a process that keeps the
// output open for MS ms; its id into FILE), "log:FILE" (appends "start <ms>" now and
// "end <ms>" at the end), "waitfile:PATH" (holds on until PATH exists, at most a minute).
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace {

long long nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void writeAll(int fd, const std::string &s)
{
    size_t done = 0;
    while (done < s.size()) {
        const ssize_t n = ::write(fd, s.data() + done, s.size() - done);
        if (n <= 0)
            return;
        done += size_t(n);
    }
}

std::string unescape(const std::string &s)
{
    std::string r;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == 'n') {
            r += '\n';
            ++i;
        } else {
            r += s[i];
        }
    }
    return r;
}

extern "C" void onStop(int)
{
    static const char text[] = "child: interrupted\n";
    (void)!::write(2, text, sizeof text - 1);
    ::_exit(6);
}

std::string g_log;

int end(int code)
{
    if (!g_log.empty())
        std::ofstream(g_log, std::ios::app) << "end " << nowMs() << ' ' << ::getpid() << '\n';
    return code;
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string step = argv[i];
        const size_t colon = step.find(':');
        const std::string cmd = step.substr(0, colon);
        const std::string arg = colon == std::string::npos ? std::string() : step.substr(colon + 1);
        if (cmd == "out") {
            writeAll(1, unescape(arg) + "\n");
        } else if (cmd == "err") {
            writeAll(2, unescape(arg) + "\n");
        } else if (cmd == "bytes") {
            const long n = std::atol(arg.c_str());
            std::string s;
            for (long k = 0; long(s.size()) < n; ++k) {
                char buf[32];
                std::snprintf(buf, sizeof buf, "line%06ld\n", k);
                s += buf;
            }
            s.resize(size_t(n));
            writeAll(1, s);
        } else if (cmd == "sleep") {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(arg.c_str())));
        } else if (cmd == "exit") {
            return end(std::atoi(arg.c_str()));
        } else if (cmd == "crash") {
            std::abort();
        } else if (cmd == "ignore-term") {
            std::signal(SIGTERM, SIG_IGN);
        } else if (cmd == "handle-term") {
            std::signal(SIGTERM, onStop);
            std::signal(SIGINT, onStop);
        } else if (cmd == "unblock") {
            sigset_t set;
            sigemptyset(&set);
            sigaddset(&set, SIGTERM);
            sigaddset(&set, SIGINT);
            sigprocmask(SIG_UNBLOCK, &set, nullptr);
        } else if (cmd == "signals") {
            std::ifstream status("/proc/self/status");
            std::ofstream out(arg);
            for (std::string line; std::getline(status, line);)
                if (line.rfind("SigBlk:", 0) == 0 || line.rfind("SigIgn:", 0) == 0 || line.rfind("SigCgt:", 0) == 0)
                    out << line << '\n';
        } else if (cmd == "fds") {
            std::string list; // written once the listing is over: the file is a descriptor too
            DIR *dir = ::opendir("/proc/self/fd");
            const int own = dir ? ::dirfd(dir) : -1;
            while (dirent *e = dir ? ::readdir(dir) : nullptr) {
                if (e->d_name[0] == '.' || std::atoi(e->d_name) == own)
                    continue;
                char target[512] = {};
                const std::string link = std::string("/proc/self/fd/") + e->d_name;
                (void)!::readlink(link.c_str(), target, sizeof target - 1);
                list += std::string(e->d_name) + ' ' + target + '\n';
            }
            if (dir)
                ::closedir(dir);
            std::ofstream(arg) << list;
        } else if (cmd == "env") {
            std::ofstream out(arg);
            for (char **e = environ; *e; ++e)
                out << *e << '\n';
        } else if (cmd == "fd3") {
            writeAll(3, arg);
        } else if (cmd == "split-utf8") {
            writeAll(1, "caf\xC3");
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            writeAll(1, "\xA9!\n");
        } else if (cmd == "grandchild") {
            const size_t c2 = arg.find(':');
            const long ms = std::atol(arg.substr(0, c2).c_str());
            const pid_t pid = ::fork();
            if (pid == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                ::_exit(0);
            }
            std::ofstream(arg.substr(c2 + 1)) << pid << '\n';
        } else if (cmd == "log") {
            g_log = arg;
            std::ofstream(g_log, std::ios::app) << "start " << nowMs() << ' ' << ::getpid() << '\n';
        } else if (cmd == "waitfile") {
            for (int k = 0; k < 6000 && ::access(arg.c_str(), F_OK) != 0; ++k)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return end(0);
}
