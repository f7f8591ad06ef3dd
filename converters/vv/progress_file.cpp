#include "vv/progress_file.h"

#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <filesystem>
#include <unistd.h>

namespace vv {

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
