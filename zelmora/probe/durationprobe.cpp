#include "probe/durationprobe.h"

#include "queue/naturalorder.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

namespace zm {

std::optional<double> probeMediaDuration(const QString &path)
{
    if (!isRegularFile(path))
        return std::nullopt;
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });

    AVFormatContext *ctx = nullptr;
    if (avformat_open_input(&ctx, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return std::nullopt;
    if (ctx->duration == AV_NOPTS_VALUE || ctx->duration <= 0)
        avformat_find_stream_info(ctx, nullptr);
    std::optional<double> seconds;
    if (ctx->duration != AV_NOPTS_VALUE && ctx->duration > 0)
        seconds = double(ctx->duration) / AV_TIME_BASE;
    avformat_close_input(&ctx);
    return seconds;
}

QString probeAlbumTag(const QString &path)
{
    if (!isRegularFile(path))
        return {};
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    AVFormatContext *ctx = nullptr;
    if (avformat_open_input(&ctx, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return {};
    // Most containers keep it with the file; Ogg keeps it with the stream.
    const AVDictionaryEntry *tag = av_dict_get(ctx->metadata, "album", nullptr, 0);
    for (unsigned i = 0; !tag && i < ctx->nb_streams; ++i)
        if (ctx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            tag = av_dict_get(ctx->streams[i]->metadata, "album", nullptr, 0);
    QString album = tag ? QString::fromUtf8(tag->value).trimmed() : QString();
    avformat_close_input(&ctx);
    return album;
}

struct DurationProbe::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<QString> todo;
    QSet<QString> seen;                            // asked for once, never again
    QHash<QString, std::optional<double>> results; // looked at (nothing: no length)
    bool ending = false;
};

namespace {
void work(const std::shared_ptr<DurationProbe::State> &state)
{
    for (;;) {
        QString path;
        {
            std::unique_lock lock(state->mutex);
            state->wake.wait(lock, [&] { return state->ending || !state->todo.empty(); });
            if (state->ending)
                return;
            path = state->todo.front();
            state->todo.pop_front();
        }
        const std::optional<double> seconds = probeMediaDuration(path);
        std::lock_guard lock(state->mutex);
        state->results.insert(path, seconds);
    }
}
} // namespace

DurationProbe::DurationProbe() : m_state(std::make_shared<State>())
{
    std::thread(work, m_state).detach();
}

DurationProbe::~DurationProbe()
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->ending = true;
    }
    m_state->wake.notify_all();
}

void DurationProbe::request(const QStringList &paths)
{
    bool added = false;
    {
        std::lock_guard lock(m_state->mutex);
        for (const QString &p : paths) {
            if (m_state->seen.contains(p))
                continue;
            m_state->seen.insert(p);
            m_state->todo.push_back(p);
            added = true;
        }
    }
    if (added)
        m_state->wake.notify_one();
}

QList<std::optional<double>> DurationProbe::knownDurations(const QStringList &paths) const
{
    QList<std::optional<double>> out;
    out.reserve(paths.size());
    std::lock_guard lock(m_state->mutex);
    for (const QString &p : paths)
        out << m_state->results.value(p);
    return out;
}

} // namespace zm
