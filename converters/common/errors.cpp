#include "common/errors.h"
#include "common/av_owner.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace zmconv {

namespace {

std::mutex g_log_mutex;
std::string g_last_message;

void log_callback(void* avcl, int level, const char* fmt, va_list vl)
{
    if (level > AV_LOG_ERROR)
        return;
    char line[1024];
    int print_prefix = 0;
    av_log_format_line2(avcl, level, fmt, vl, line, sizeof line, &print_prefix);
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    if (text.empty())
        return;
    std::lock_guard lock(g_log_mutex);
    g_last_message = std::move(text);
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
    std::string message = what + ": " + av_error_text(ret);
    const std::string detail = take_library_message();
    if (!detail.empty())
        message += " (" + detail + ")";
    throw ConvError(kind, message);
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
    return text;
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
