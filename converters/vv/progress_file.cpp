#include "vv/progress_file.h"

#include "common/errors.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace vv {

namespace {

// A progress file holds a few digits; anything longer is something else.
constexpr size_t kMaxProgressBytes = 32;

// Whether a and b name the same file: the same file on disk when both exist, else the same
// place once links in their folders are followed.
bool same_file(const std::string &a, const std::string &b)
{
    if (a.empty() || b.empty())
        return false;
    struct stat sa {};
    struct stat sb {};
    const bool a_exists = ::stat(a.c_str(), &sa) == 0;
    const bool b_exists = ::stat(b.c_str(), &sb) == 0;
    if (a_exists && b_exists)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    if (a_exists != b_exists)
        return false;
    std::error_code ea;
    std::error_code eb;
    const auto pa = std::filesystem::weakly_canonical(std::filesystem::absolute(a, ea), ea);
    const auto pb = std::filesystem::weakly_canonical(std::filesystem::absolute(b, eb), eb);
    return !ea && !eb && pa == pb;
}

// An existing regular file whose content is not blanks around a whole number.
bool holds_something_else(const std::string &path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false; // new, or a FIFO or device, which is never written
    if (st.st_size > static_cast<off_t>(kMaxProgressBytes))
        return true;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false; // unreadable: opening it for writing says what it says
    char text[kMaxProgressBytes + 1];
    const ssize_t n = ::read(fd, text, sizeof text);
    ::close(fd);
    if (n < 0 || n > static_cast<ssize_t>(kMaxProgressBytes))
        return n > 0;
    const std::string content(text, static_cast<size_t>(n));
    const auto first = content.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return false; // empty: a progress file not yet written
    const auto last = content.find_last_not_of(" \t\r\n");
    const std::string number = content.substr(first, last - first + 1);
    return !std::all_of(number.begin(), number.end(),
                        [](unsigned char c) { return std::isdigit(c) != 0; });
}

} // namespace

void check_progress_file(const std::string &path, const std::string &input,
                         const std::string &output)
{
    if (path.empty())
        return;
    using zmconv::ConvError;
    using zmconv::Failure;
    if (same_file(path, input))
        throw ConvError(Failure::Usage, "the progress file is the input file: " + path);
    if (same_file(path, output))
        throw ConvError(Failure::Usage, "the progress file is the output file: " + path);
    if (holds_something_else(path))
        throw ConvError(Failure::Usage,
                        "the progress file holds something else than a progress value and is "
                        "left as it is: "
                            + path);
}

std::string executable_folder()
{
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return {};
    return exe.parent_path().string();
}

std::string progress_file_path(const char *named, const std::string &folder)
{
    if (named && *named)
        return named;
    return folder.empty() ? std::string() : folder + "/progress.txt";
}

ProgressFile::ProgressFile(std::string path, Clock::duration min_interval)
    : m_path(std::move(path)), m_min_interval(min_interval)
{
    if (m_path.empty())
        return;
    // Without O_NONBLOCK a FIFO in its place would hold the converter up before it starts; only
    // a regular file is kept.
    m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
    struct stat st {};
    if (m_fd >= 0 && (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(m_fd);
        m_fd = -1;
    }
}

ProgressFile::~ProgressFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void ProgressFile::update(double fraction)
{
    if (!std::isfinite(fraction))
        return;
    const int v = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 1000.0);
    m_value = std::max(m_value, std::min(v, 999));
    const auto now = Clock::now();
    if (m_value != m_written && now - m_last_write >= m_min_interval) {
        write(m_value);
        m_last_write = now;
    }
}

void ProgressFile::finish()
{
    m_value = 1000;
    write(m_value);
}

void ProgressFile::flush()
{
    write(m_value);
    m_last_write = Clock::now();
}

void ProgressFile::write(int value)
{
    if (m_fd < 0)
        return;
    // The value never shrinks, so writing it over the old one from the start and then
    // cutting the file to its length replaces the whole content without a moment where the
    // file is empty.
    const std::string text = std::to_string(value);
    if (::pwrite(m_fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()))
        (void)::ftruncate(m_fd, static_cast<off_t>(text.size()));
    m_written = value;
}

} // namespace vv
