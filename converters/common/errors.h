// Error reporting of the converters. Every failure is thrown as one ConvError carrying its class
// (which becomes the exit code) and one human-readable line; main() prints that line on stderr.
// FFmpeg's own log output is captured instead of printed, so the error line is the only text on
// stderr; the last captured library message can be appended to an error for detail.
#pragma once

#include <stdexcept>
#include <string>

namespace zmconv {

// Exit codes of the converters, one per class of failure. 0 is success.
// Each line's comment is also the text of the manual pages' exit-code list.
enum class Failure : int {
    Usage = 2,  // unknown option, bad value, no output name, refused preset line or progress file
    Input = 3,  // input missing, unreadable, not a regular file, not media, no usable stream
    Output = 4, // output folder missing or not writable, output exists without -y
    Codec = 5,  // decoding, encoding or writing failed, a full disk or file-size limit included,
                // the output read back is not the length converted
    Interrupted = 6, // stopped by SIGINT or SIGTERM; the partial output is removed
};

class ConvError : public std::runtime_error
{
public:
    ConvError(Failure kind, const std::string& message) : std::runtime_error(message), m_kind(kind)
    {}
    Failure kind() const noexcept { return m_kind; }
    int exit_code() const noexcept { return static_cast<int>(m_kind); }

private:
    Failure m_kind;
};

// Text of an FFmpeg error code ("Invalid data found when processing input").
std::string av_error_text(int errnum);

// Throws ConvError(kind, what + ": " + av_error_text(ret) [+ library detail]) when ret < 0;
// returns ret otherwise. A failure that comes from a lack of memory is thrown as out_of_memory()
// instead, whatever the kind.
int check(int ret, Failure kind, const std::string& what);

// The one error for a lack of memory: ConvError(Failure::Codec, "out of memory").
ConvError out_of_memory();
// True when the process is short of memory now: a modest allocation (a few thread stacks'
// worth) fails. Asked where a failure happens, before anything is freed again, it tells a
// failure that came from a memory limit from one that came from the data.
bool memory_is_short();
// Whether a failure with this FFmpeg code and the library's own message for it came from a lack
// of memory: the code says so, the message does (libraries outside FFmpeg report a failed
// allocation only in words), or memory is short right now.
bool is_out_of_memory(int errnum, const std::string& detail);

// How an error line shows a value: at most kMaxValueEcho characters (a longer value is cut and
// its length given), with control characters and bytes that are not UTF-8 written as \xNN.
constexpr size_t kMaxValueEcho = 200;
std::string value_text(const std::string& value);

// Routes FFmpeg's log into an in-memory slot instead of stderr. Call once at start-up.
void capture_library_log();
// The last error-level message FFmpeg logged since the previous call (trimmed), or "".
std::string take_library_message();
// Whether any error-level message FFmpeg logged since the previous take_library_message()
// contains text (a later message may have taken the last place).
bool library_said(const std::string& text);

} // namespace zmconv
