#include "common/output_target.h"

#include "common/errors.h"
#include "common/program.h"
#include "common/progress.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <random>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zmconv {

namespace {

std::string folder_of(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string name_of(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string errno_text(int err)
{
    return std::strerror(err);
}

uint32_t fnv1a(const std::string& text)
{
    uint32_t h = 2166136261u;
    for (unsigned char c : text) {
        h ^= c;
        h *= 16777619u;
    }
    return h;
}

std::string hex(uint32_t value, int digits)
{
    char buf[17];
    std::snprintf(buf, sizeof buf, "%0*x", digits, value);
    return buf;
}

// Eight hex digits naming this host, so that a folder shared over the network is never cleaned
// of another host's temporaries because their process ids mean nothing here.
const std::string& host_tag()
{
    static const std::string tag = [] {
        char host[HOST_NAME_MAX + 1] = {};
        if (::gethostname(host, sizeof host - 1) != 0)
            host[0] = '\0';
        return hex(fnv1a(host), 8);
    }();
    return tag;
}

// Follows symbolic links to the file they name, which need not exist (a dangling link names the
// place of a new file). Relative targets are relative to the link's folder.
std::string follow_links(const std::string& path)
{
    std::string p = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return p;
        std::string target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(p.c_str(), target.data(), target.size());
        if (n <= 0)
            return p;
        target.resize(static_cast<size_t>(n));
        p = target[0] == '/' ? target : folder_of(p).append("/").append(target);
    }
    throw ConvError(Failure::Output, "too many levels of symbolic links: " + path);
}

// Gives the unnamed file fd the name dest. Returns 0 or an errno value.
int link_unnamed(int fd, const std::string& dest)
{
    char proc[64];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    if (::linkat(AT_FDCWD, proc, AT_FDCWD, dest.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    int err = errno;
    if (err == ENOENT && ::access(proc, F_OK) != 0) {
        // No /proc: the descriptor itself, which newer kernels allow for the file's opener.
        if (::linkat(fd, "", AT_FDCWD, dest.c_str(), AT_EMPTY_PATH) == 0)
            return 0;
        err = errno;
    }
    return err;
}

// Flushes the folder's entry list, so the new name survives a power cut. File systems that
// cannot flush a folder say so with EINVAL; that is no failure of the conversion.
void sync_folder(const std::string& folder)
{
    const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0)
        return;
    (void)::fsync(dfd);
    ::close(dfd);
}

bool stale(const std::string& entry, const std::string& prefix)
{
    // PREFIX PID "-" XXXXXX, with a writer that is not running any more.
    if (entry.compare(0, prefix.size(), prefix) != 0)
        return false;
    const std::string rest = entry.substr(prefix.size());
    const auto dash = rest.find('-');
    if (dash == std::string::npos || dash == 0 || dash > 10 || rest.size() != dash + 7)
        return false;
    if (rest.find_first_not_of("0123456789") != dash)
        return false;
    const long pid = std::strtol(rest.c_str(), nullptr, 10);
    if (pid <= 0 || pid > INT_MAX || pid == ::getpid())
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

} // namespace

std::string OutputTarget::temporary_prefix(const std::string& file_name)
{
    // A long name would make the temporary one too long for the file system: its hash stands in.
    const std::string tag = file_name.size() <= 200 ? file_name : hex(fnv1a(file_name), 8);
    return "." + tag + ".partial-" + host_tag() + "-";
}

OutputTarget::OutputTarget(const Options& options)
    : m_path(options.path), m_overwrite(options.overwrite),
      m_allow_unnamed(options.allow_unnamed && !std::getenv("ZMCONV_NAMED_TEMP"))
{
    if (m_path.empty())
        throw ConvError(Failure::Usage, "no output file given");
    if (m_path.back() == '/')
        throw ConvError(Failure::Usage, "output is a folder, not a file name: " + m_path);

    m_target = follow_links(m_path);
    m_folder = folder_of(m_target);
    m_name = name_of(m_target);
    struct stat st {};
    if (::stat(m_folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw ConvError(Failure::Output, "output folder does not exist: " + m_folder);
    if (::access(m_folder.c_str(), W_OK | X_OK) != 0)
        throw ConvError(Failure::Output, "output folder is not writable: " + m_folder);

    struct stat out_st {};
    if (::stat(m_target.c_str(), &out_st) != 0)
        return; // a new file
    if (S_ISDIR(out_st.st_mode))
        throw ConvError(Failure::Output, "output is a folder: " + m_path);
    struct stat in_st {};
    if (!options.input_path.empty() && ::stat(options.input_path.c_str(), &in_st) == 0
        && in_st.st_dev == out_st.st_dev && in_st.st_ino == out_st.st_ino)
        throw ConvError(Failure::Output, "output file is the input file: " + m_path);
    if (!m_overwrite)
        throw ConvError(Failure::Output,
                        "output file already exists (use -y to overwrite): " + m_path);
    // The file is replaced by a rename, which its own permissions would not stop: a file its
    // owner made read-only stays protected.
    if (::access(m_target.c_str(), W_OK) != 0)
        throw ConvError(Failure::Output, "output file is not writable: " + m_path);
    m_replace = S_ISREG(out_st.st_mode);
    if (!m_replace)
        m_kind = Kind::Direct;
}

OutputTarget::~OutputTarget()
{
    if (m_fd < 0)
        return;
    if (!m_committed && m_kind != Kind::Direct) {
        struct stat st {};
        if (::fstat(m_fd, &st) == 0 && st.st_size > 0)
            set_partial_output_removed(true);
        if (!m_temp.empty())
            ::unlink(m_temp.c_str());
    }
    ::close(m_fd);
}

int OutputTarget::remove_stale_temporaries() const
{
    const std::string prefix = temporary_prefix(m_name);
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(m_folder.c_str()), &::closedir);
    if (!dir)
        return 0;
    int removed = 0;
    while (const dirent* e = ::readdir(dir.get())) {
        const std::string entry = e->d_name;
        if (!stale(entry, prefix))
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir.get()), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0
            && S_ISREG(st.st_mode) && ::unlinkat(::dirfd(dir.get()), e->d_name, 0) == 0)
            ++removed;
    }
    return removed;
}

std::string OutputTarget::unique_name() const
{
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static std::mt19937 rng{std::random_device{}()};
    std::string suffix(6, 'x');
    for (char& c : suffix)
        c = kChars[rng() % (sizeof kChars - 1)];
    return m_folder + "/" + temporary_prefix(m_name) + std::to_string(::getpid()) + "-" + suffix;
}

void OutputTarget::open()
{
    if (m_fd >= 0)
        return;
    if (m_kind == Kind::Direct) {
        open_direct();
        return;
    }
    remove_stale_temporaries();
    // Without /proc the unnamed file could not be given a name at the end on most kernels.
    if (m_allow_unnamed && ::access("/proc/self/fd", X_OK) == 0)
        open_unnamed();
    if (m_fd < 0)
        open_named();
    take_permissions();
}

std::string OutputTarget::read_path() const
{
    switch (m_kind) {
    case Kind::Unnamed:
        return m_fd >= 0 ? "/proc/self/fd/" + std::to_string(m_fd) : std::string();
    case Kind::Named:
        return m_temp;
    case Kind::Direct:
        break;
    }
    return {};
}

void OutputTarget::open_unnamed()
{
    m_fd = ::open(m_folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (m_fd >= 0)
        m_kind = Kind::Unnamed;
    // Refused (EOPNOTSUPP, or EISDIR/EINVAL from file systems and kernels that do not know the
    // flag): the named way is tried next and reports its own error if it fails too.
}

void OutputTarget::open_named()
{
    for (int tries = 0; tries < 100; ++tries) {
        const std::string name = unique_name();
        m_fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            m_temp = name;
            m_kind = Kind::Named;
            return;
        }
        if (errno != EEXIST)
            break;
    }
    throw ConvError(Failure::Output, "cannot create a file in the output folder " + m_folder + ": "
                                         + errno_text(errno));
}

void OutputTarget::open_direct()
{
    // Non-blocking, so that neither a FIFO without a reader nor one nobody drains can hold up a
    // stop; the writer waits in poll() instead.
    for (;;) {
        m_fd = ::open(m_target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd >= 0)
            return;
        if (errno != ENXIO && errno != EINTR)
            break;
        // A FIFO whose reader has not come yet: look again a few times a second.
        if (wait_for_stop(100))
            throw_if_stopped();
    }
    throw ConvError(Failure::Output, "cannot open the output " + m_path + ": " + errno_text(errno));
}

void OutputTarget::take_permissions()
{
    if (!m_replace)
        return; // a new file: 0666 less the umask, as any program creates files
    struct stat old {};
    if (::stat(m_target.c_str(), &old) != 0)
        return;
    if (old.st_uid != ::geteuid() || old.st_gid != ::getegid())
        (void)::fchown(m_fd, old.st_uid, old.st_gid); // kept where this user may keep it
    (void)::fchmod(m_fd, old.st_mode & 07777);
}

void OutputTarget::start_flush()
{
    if (m_fd >= 0 && m_kind != Kind::Direct)
        (void)::sync_file_range(m_fd, 0, 0, SYNC_FILE_RANGE_WRITE);
}

void OutputTarget::commit()
{
    if (m_fd < 0)
        throw ConvError(Failure::Codec, "output was never started");
    if (m_kind == Kind::Direct) {
        m_committed = true;
        return;
    }
    if (::fsync(m_fd) != 0 && errno != EINVAL)
        throw ConvError(Failure::Codec,
                        "cannot write the output file " + m_path + ": " + errno_text(errno));

    auto exists_error = [this] {
        return ConvError(Failure::Output,
                         "output file already exists (use -y to overwrite): " + m_path);
    };
    if (m_kind == Kind::Unnamed) {
        // A new output is linked straight to its name: it appears whole or not at all.
        if (!m_replace) {
            const int err = link_unnamed(m_fd, m_target);
            if (err == 0) {
                m_committed = true;
                sync_folder(m_folder);
                return;
            }
            if (err != EEXIST)
                throw ConvError(Failure::Output,
                                "cannot name the output file " + m_path + ": " + errno_text(err));
            if (!m_overwrite)
                throw exists_error(); // made by someone else meanwhile
        }
        // Replacing: a private name first, then one rename over the old file.
        int err = EEXIST;
        for (int tries = 0; tries < 100 && err == EEXIST; ++tries) {
            m_temp = unique_name();
            err = link_unnamed(m_fd, m_temp);
        }
        if (err != 0) {
            m_temp.clear();
            throw ConvError(Failure::Output,
                            "cannot name the output file " + m_path + ": " + errno_text(err));
        }
    }
    if (!m_replace && !m_overwrite) {
        // No -y: a file made meanwhile under the name is not replaced.
        if (::renameat2(AT_FDCWD, m_temp.c_str(), AT_FDCWD, m_target.c_str(), RENAME_NOREPLACE)
            != 0) {
            if (errno == EEXIST)
                throw exists_error();
            if (errno != EINVAL && errno != ENOSYS)
                throw ConvError(Failure::Output,
                                "cannot name the output file " + m_path + ": " + errno_text(errno));
            // The file system knows no such rename: the name is checked just before instead.
            struct stat st {};
            if (::lstat(m_target.c_str(), &st) == 0)
                throw exists_error();
            if (::rename(m_temp.c_str(), m_target.c_str()) != 0)
                throw ConvError(Failure::Output,
                                "cannot name the output file " + m_path + ": " + errno_text(errno));
        }
    } else if (::rename(m_temp.c_str(), m_target.c_str()) != 0) {
        throw ConvError(Failure::Output,
                        "cannot replace the output file " + m_path + ": " + errno_text(errno));
    }
    m_temp.clear();
    m_committed = true;
    sync_folder(m_folder);
}

} // namespace zmconv
