#include "common/errors.h"
#include "common/av_owner.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <sys/mman.h>
#include <vector>

namespace zmconv {

namespace {

std::mutex g_log_mutex;
std::string g_last_message;
// The messages since the last take (the newest few): a library may add its own words after the
// one that says what went wrong.
constexpr size_t kKeptMessages = 8;
std::vector<std::string> g_messages;

// Called from inside the libraries (C code): nothing may be thrown out of it, not even when the
// message cannot be copied for lack of memory.
void log_callback(void* avcl, int level, const char* fmt, va_list vl) noexcept
{
    if (level > AV_LOG_ERROR)
        return;
    char line[1024];
    int print_prefix = 0;
    av_log_format_line2(avcl, level, fmt, vl, line, sizeof line, &print_prefix);
    size_t length = std::char_traits<char>::length(line);
    while (length > 0
           && (line[length - 1] == '\n' || line[length - 1] == '\r' || line[length - 1] == ' '))
        --length;
    if (length == 0)
        return;
    try {
        std::lock_guard lock(g_log_mutex);
        g_last_message.assign(line, length);
        if (g_messages.size() == kKeptMessages)
            g_messages.erase(g_messages.begin());
        g_messages.push_back(g_last_message);
    } catch (...) {
        // The message is lost; the failure it belongs to is still reported by its code.
    }
}

// Room a conversion needs at least for its next steps: a few thread stacks and frames.
constexpr size_t kMemoryProbeBytes = size_t{32} << 20;

bool contains_word(std::string text, std::string_view word)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text.find(word) != std::string::npos;
}

// Bytes in a UTF-8 sequence starting at text[at], or 0 when it is not a valid one.
size_t utf8_length(const std::string& text, size_t at)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t n = 0;
    if (lead >= 0xc2 && lead <= 0xdf)
        n = 2;
    else if (lead >= 0xe0 && lead <= 0xef)
        n = 3;
    else if (lead >= 0xf0 && lead <= 0xf4)
        n = 4;
    if (n == 0 || at + n > text.size())
        return 0;
    for (size_t i = 1; i < n; ++i)
        if ((byte(at + i) & 0xc0) != 0x80)
            return 0;
    return n;
}

} // namespace

std::string av_error_text(int errnum)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(errnum, buf, sizeof buf);
    return buf;
}

int check(int ret, Failure kind, const std::string& what)
{
    if (ret >= 0)
        return ret;
    const std::string detail = take_library_message();
    if (kind != Failure::Usage && kind != Failure::Interrupted && is_out_of_memory(ret, detail))
        throw out_of_memory();
    std::string message = what + ": " + av_error_text(ret);
    if (!detail.empty())
        message += " (" + value_text(detail) + ")";
    throw ConvError(kind, message);
}

ConvError out_of_memory()
{
    return ConvError(Failure::Codec, "out of memory");
}

bool memory_is_short()
{
    // Writable private memory is what both an address-space limit and strict overcommit count.
    void* room = ::mmap(nullptr, kMemoryProbeBytes, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (room == MAP_FAILED)
        return errno == ENOMEM;
    ::munmap(room, kMemoryProbeBytes);
    return false;
}

bool is_out_of_memory(int errnum, const std::string& detail)
{
    if (errnum == AVERROR(ENOMEM))
        return true;
    if (contains_word(detail, "cannot allocate memory") || contains_word(detail, "out of memory")
        || contains_word(detail, "malloc of size"))
        return true;
    return memory_is_short();
}

std::string value_text(const std::string& value)
{
    std::string text;
    size_t characters = 0;
    size_t at = 0;
    while (at < value.size() && characters < kMaxValueEcho) {
        const unsigned char c = static_cast<unsigned char>(value[at]);
        const size_t n = c < 0x80 ? 1 : utf8_length(value, at);
        if (c < 0x20 || c == 0x7f || n == 0) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            text += hex;
            ++at;
        } else {
            text.append(value, at, n);
            at += n;
        }
        ++characters;
    }
    if (at < value.size())
        text += "... (" + std::to_string(value.size()) + " bytes)";
    return text;
}

void capture_library_log()
{
    av_log_set_callback(log_callback);
}

std::string take_library_message()
{
    std::lock_guard lock(g_log_mutex);
    std::string text = std::move(g_last_message);
    g_last_message.clear();
    g_messages.clear();
    return text;
}

bool library_said(const std::string& text)
{
    std::lock_guard lock(g_log_mutex);
    return std::any_of(g_messages.begin(), g_messages.end(), [&](const std::string& message) {
        return message.find(text) != std::string::npos;
    });
}

FramePtr make_frame()
{
    FramePtr f(av_frame_alloc());
    if (!f)
        throw ConvError(Failure::Codec, "out of memory");
    return f;
}

PacketPtr make_packet()
{
    PacketPtr p(av_packet_alloc());
    if (!p)
        throw ConvError(Failure::Codec, "out of memory");
    return p;
}

} // namespace zmconv
