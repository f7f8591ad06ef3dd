// A stand-in converter for the tests, installed as <app>/data/conv. It takes the command line
// zelmora builds (-i INPUT ... OUTPUT) and acts out the input file when that file starts with
// "#fake"; any other input gets a short, successful run. Each run is logged to $FAKECONV_LOG.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

long long nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void logLine(const std::string &line)
{
    const char *log = std::getenv("FAKECONV_LOG");
    if (!log)
        return;
    std::ofstream out(log, std::ios::app);
    out << line << '\n';
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

std::string unescape(std::string s)
{
    std::string r;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            const char c = s[++i];
            r += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
        } else {
            r += s[i];
        }
    }
    return r;
}

void writeOutput(const std::string &path)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "converted audio\n";
}

int finish(int code)
{
    logLine("end\t" + std::to_string(nowMs()) + "\t" + std::to_string(code));
    return code;
}

} // namespace

int main(int argc, char **argv)
{
    // Started with SIGTERM and SIGINT blocked; it has no handler to put in place, so it lets
    // them in at once and a SIGTERM ends it.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigprocmask(SIG_UNBLOCK, &stops, nullptr);
    std::string input, output, joined;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            joined += '\x1f';
        joined += argv[i];
        if (std::strcmp(argv[i], "-i") == 0 && i + 1 < argc)
            input = argv[i + 1];
    }
    if (argc > 1)
        output = argv[argc - 1];
    logLine("start\t" + std::to_string(nowMs()) + "\t" + joined);

    std::ifstream in(input);
    if (!in) {
        writeAll(2, "conv: cannot open input '" + input + "'\n");
        return finish(1);
    }
    // The whole script is read first, so the converter holds no descriptor of its own while
    // it acts it out.
    std::string first;
    std::getline(in, first);
    std::vector<std::string> script;
    for (std::string l; std::getline(in, l);)
        script.push_back(l);
    in.close();
    if (first.rfind("#fake", 0) != 0) {
        writeAll(2, "Input #0, from '" + input + "':\n  Duration: 00:00:02.00, start: 0.000000, bitrate: 64 kb/s\n");
        for (int t = 1; t <= 2; ++t) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            writeAll(2, "size=       1kB time=" + std::to_string(t) + ".00 bitrate=  64.0kbits/s\r");
        }
        writeAll(2, "\n");
        writeOutput(output);
        return finish(0);
    }

    for (const std::string &line : script) {
        const size_t sp = line.find(' ');
        const std::string cmd = line.substr(0, sp);
        const std::string arg = sp == std::string::npos ? std::string() : line.substr(sp + 1);
        if (cmd == "out") {
            writeAll(1, unescape(arg) + "\n");
        } else if (cmd == "raw") {
            writeAll(1, unescape(arg));
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
        } else if (cmd == "split-utf8") {
            writeAll(1, "caf\xC3");
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            writeAll(1, "\xA9!\n");
        } else if (cmd == "grandchild") {
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::prctl(PR_SET_NAME, "zmgrandkid");
                std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(arg.c_str())));
                ::_exit(0);
            }
            // Its pid, for tests that look at it: the input's name plus ".grandchild".
            std::ofstream(input + ".grandchild") << pid << '\n';
        } else if (cmd == "touch") {
            std::ofstream(arg, std::ios::app).flush();
        } else if (cmd == "waitfile") {
            // Holds on until the test lets it go (at most a minute).
            for (int i = 0; i < 6000 && ::access(arg.c_str(), F_OK) != 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } else if (cmd == "envto") {
            // "envto FILE NAME": appends "NAME=value" (or "NAME unset") to FILE.
            const size_t gap = arg.rfind(' ');
            const std::string name = arg.substr(gap + 1);
            const char *value = std::getenv(name.c_str());
            std::ofstream(arg.substr(0, gap), std::ios::app)
                << name << (value ? "=" + std::string(value) : " unset") << '\n';
        } else if (cmd == "ignore-term") {
            std::signal(SIGTERM, SIG_IGN); // only SIGKILL ends it now
        } else if (cmd == "output") {
            writeOutput(output);
        } else if (cmd == "exit") {
            return finish(std::atoi(arg.c_str()));
        } else if (cmd == "crash") {
            std::fflush(nullptr);
            std::abort();
        }
    }
    return finish(0);
}
