// progress.txt: the progress of the current conversion in tenths of a percent (0..1000),
// as bare decimal digits, kept in the converter's own folder for the front end to poll, or in
// the file the front end names in VV_PROGRESS_FILE (each of its windows has its own).
#pragma once

#include <chrono>
#include <string>

namespace vv {

// Folder of the running executable (from /proc/self/exe); empty when it cannot be read.
std::string executable_folder();

// Where the progress goes: `named` (the value of VV_PROGRESS_FILE) when it is set and not
// empty, otherwise progress.txt in `folder`; empty (no progress file) when neither is known.
std::string progress_file_path(const char *named, const std::string &folder);

// Refuses, with zmconv::ConvError(Failure::Usage), a progress file that is the input or the
// output (by name or as the same file through a link), or an existing file that is not a
// progress file: one that holds more than blanks around a whole number. Nothing is opened for
// writing before this passes, so a mistaken name never destroys the file it names.
void check_progress_file(const std::string &path, const std::string &input,
                         const std::string &output);

class ProgressFile final
{
public:
    using Clock = std::chrono::steady_clock;

    // An empty path gives a writer that does nothing.
    explicit ProgressFile(std::string path,
                          Clock::duration min_interval = std::chrono::milliseconds(200));
    ~ProgressFile();
    ProgressFile(const ProgressFile &) = delete;
    ProgressFile &operator=(const ProgressFile &) = delete;

    // Reports progress as a fraction 0..1. The value shown stays below 1000 until finish();
    // it never decreases; the file is rewritten at most once per interval.
    void update(double fraction);
    // A complete conversion: writes 1000 at once.
    void finish();
    // Writes the current value now (start of a conversion).
    void flush();

private:
    void write(int value);

    std::string m_path;
    Clock::duration m_min_interval;
    int m_fd = -1;
    int m_value = 0;
    int m_written = -1;
    Clock::time_point m_last_write{};
};

} // namespace vv
