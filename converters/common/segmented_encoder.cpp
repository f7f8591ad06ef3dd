#include "common/segmented_encoder.h"

#include "common/errors.h"
#include "common/progress.h"
#include "common/segment_join.h"
#include "common/vorbis_grid.h"

extern "C" {
#include <libavutil/md5.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace zmconv {

namespace {

// Frame size for encoders that take any (the audio path feeds such encoders this many).
constexpr int kFreeFrameSize = 4096;
constexpr auto kWaitTick = std::chrono::milliseconds(200);
constexpr size_t kHugePage = size_t{2} << 20;

// Samples [first, first + capacity) of the stream, in the encoder's sample format. Written by the
// feeding thread only beyond what any run reads, and never moved.
// Sample buffers of one size, kept for the next chunk once a chunk is done with them: a
// segment's samples are tens of megabytes, which the allocator would otherwise hand back to the
// system and fault in page by page (and clear) again for every segment. Any thread.
class BufferStore
{
public:
    explicit BufferStore(size_t bytes) : m_bytes((bytes + kHugePage - 1) / kHugePage * kHugePage) {}
    ~BufferStore()
    {
        for (uint8_t* b : m_spare)
            std::free(b);
    }
    BufferStore(const BufferStore&) = delete;
    BufferStore& operator=(const BufferStore&) = delete;

    uint8_t* take()
    {
        {
            std::lock_guard lock(m_mutex);
            if (!m_spare.empty()) {
                uint8_t* b = m_spare.back();
                m_spare.pop_back();
                return b;
            }
        }
        // Huge pages where the system gives them: a fresh buffer is faulted in 2 MB at a time
        // instead of 4 kB, thousands of faults fewer for every segment on the feeding thread.
        void* b = nullptr;
        if (posix_memalign(&b, kHugePage, m_bytes) != 0)
            throw out_of_memory();
        madvise(b, m_bytes, MADV_HUGEPAGE); // a hint; without it the buffer works the same
        return static_cast<uint8_t*>(b);
    }
    void give_back(uint8_t* b)
    {
        std::lock_guard lock(m_mutex);
        m_spare.push_back(b);
    }

private:
    size_t m_bytes;
    std::mutex m_mutex;
    std::vector<uint8_t*> m_spare;
};

// The samples of one segment, in the encoder's format. Its contents are written before they are
// read: the buffer is not cleared.
struct Chunk {
    int64_t first = 0;
    int64_t capacity = 0;
    std::vector<uint8_t*> planes;
    uint8_t* buffer = nullptr;
    std::shared_ptr<BufferStore> store;

    Chunk(int64_t first_sample, int64_t samples, int channels, AVSampleFormat format,
          std::shared_ptr<BufferStore> buffers)
        : first(first_sample), capacity(samples), store(std::move(buffers))
    {
        planes.resize(av_sample_fmt_is_planar(format) ? static_cast<size_t>(channels) : 1);
        buffer = store->take();
        if (av_samples_fill_arrays(planes.data(), nullptr, buffer, channels,
                                   static_cast<int>(samples), format, 0)
            < 0) {
            store->give_back(buffer);
            throw out_of_memory();
        }
    }
    ~Chunk() { store->give_back(buffer); }
    Chunk(const Chunk&) = delete;
    Chunk& operator=(const Chunk&) = delete;
};
using ChunkRef = std::shared_ptr<const Chunk>;

// One run: an encoder fed [feed_from, feed_to) of the stream.
struct RunJob {
    int64_t first_segment = 0;
    int64_t last_segment = 0;
    int64_t feed_from = 0;
    int64_t feed_to = 0;
    bool final = false;
    int64_t keep_low = INT64_MIN;  // packets ending after this are kept
    int64_t keep_high = INT64_MAX; // and, unless final, starting before this
    int64_t count_from = 0;        // samples counted as progress
    int64_t count_to = 0;
    std::vector<ChunkRef> chunks; // in order, covering [feed_from, feed_to)
};

struct RunOutput {
    std::vector<PacketPtr> packets;
    std::vector<PacketFacts> facts;
    // A run told to meet another: the packets from which on both gave the same bytes (index here,
    // index there). The run stopped there.
    std::optional<std::pair<size_t, size_t>> met;
};

// Where a run meets another for good: this many packets in a row the same in both.
constexpr int kMeetPackets = 16;

// Where a run may meet another run's packets: the first of the packets alike starts in
// (after, before).
struct Meeting {
    const std::vector<PacketFacts>* other = nullptr;
    int64_t after = 0;  // the first packet of the stretch starts after this
    int64_t before = 0; // and before this
};

// A run whose packets are written up to the join with the next run, from next_index on.
struct Pending {
    RunJob job;
    RunOutput out;
    size_t next_index = 0;
};

// A fixed set of threads working a queue of tasks in order.
class Pool
{
public:
    explicit Pool(int threads)
    {
        try {
            for (int i = 0; i < threads; ++i)
                m_threads.emplace_back([this] { loop(); });
        } catch (const std::system_error& e) {
            stop();
            throw ConvError(Failure::Codec,
                            std::string("cannot start the encoding threads: ") + e.what());
        }
    }
    ~Pool() { stop(); }
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    void submit(std::function<void()> task)
    {
        {
            std::lock_guard lock(m_mutex);
            m_tasks.push_back(std::move(task));
        }
        m_wake.notify_one();
    }

private:
    void stop()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
            m_tasks.clear();
        }
        m_wake.notify_all();
        for (std::thread& t : m_threads)
            if (t.joinable())
                t.join();
        m_threads.clear();
    }

    void loop()
    {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
                if (m_stopping)
                    return;
                task = std::move(m_tasks.front());
                m_tasks.pop_front();
            }
            task();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

// FLAC's MD5 is of the samples as the stream stores them: 16-bit as they are, wider ones as their
// upper three bytes (24-bit). `values` interleaved samples of all channels.
void hash_flac_samples(AVMD5* md5, const uint8_t* data, size_t values, AVSampleFormat format)
{
    if (format == AV_SAMPLE_FMT_S16) {
        av_md5_update(md5, data, values * 2);
    } else if (format == AV_SAMPLE_FMT_S32) {
        const auto* s = reinterpret_cast<const int32_t*>(data);
        std::array<uint8_t, size_t{3} * 4096> bytes{};
        while (values > 0) {
            const size_t n = std::min<size_t>(values, bytes.size() / 3);
            for (size_t i = 0; i < n; ++i) {
                const auto v = static_cast<uint32_t>(s[i] >> 8);
                bytes[3 * i] = static_cast<uint8_t>(v);
                bytes[3 * i + 1] = static_cast<uint8_t>(v >> 8);
                bytes[3 * i + 2] = static_cast<uint8_t>(v >> 16);
            }
            av_md5_update(md5, bytes.data(), n * 3);
            s += n;
            values -= n;
        }
    }
}

struct Slot {
    RunJob job;
    std::future<RunOutput> result;
};

} // namespace

struct SegmentedEncoder::Impl {
    std::unique_ptr<AudioEncoder> inner;
    OutputFile& out;
    const SegmentCodec& codec;
    SegmentPlan plan;
    int threads;
    int channels = 0;
    AVSampleFormat format = AV_SAMPLE_FMT_NONE;
    AVRational time_base{1, 1};
    std::vector<uint8_t> extradata; // of the output stream; every twin must give the same
    int64_t initial_padding = 0;    // the encoder's delay: packet timestamps are this early
    bool log = segment_log_enabled();

    // Feeding side (the caller's thread).
    std::map<int64_t, std::shared_ptr<Chunk>> chunks; // by segment index
    std::shared_ptr<BufferStore> buffers;             // for the chunks
    int64_t filled = 0;
    int64_t next_run = 0;
    bool ended = false;
    std::deque<Slot> slots;
    std::optional<Pending> pending;
    std::function<void()> waiting;

    // FLAC: MD5 of the samples, hashed in stream order on a thread of its own as chunks fill
    // (the feeding thread is what bounds a FLAC encode on several threads), and the frame sizes
    // written.
    std::unique_ptr<AVMD5, void (*)(AVMD5*)> md5{nullptr, [](AVMD5* m) { av_free(m); }};
    std::unique_ptr<Pool> hasher; // after md5: its thread ends first
    int64_t hashed_to = 0;        // samples handed to the hasher
    std::future<void> hashed;     // ready once the last of them are hashed
    int min_frame = INT_MAX;
    int max_frame = 0;

    // Vorbis: libvorbis's block decisions, scanned ahead of the runs on the feeding thread, and
    // what the last run dispatched will make about the next seam.
    std::unique_ptr<VorbisGrid> grid;
    std::vector<PacketFacts> scanned;

    std::atomic<int64_t> encoded{0};
    std::atomic<bool> abort{false};
    Counts counts;
    std::unique_ptr<Pool> pool; // last: its threads end before the rest goes

    Impl(std::unique_ptr<AudioEncoder> encoder, OutputFile& output, const SegmentCodec& c,
         const SegmentPlan& p, int n)
        : inner(std::move(encoder)), out(output), codec(c), plan(p), threads(std::max(n, 1))
    {}

    // With a meeting: stops once its packets are those of the other run's.
    RunOutput encode_run(const RunJob& job, const Meeting& meeting = {});
    void store(const AVFrame* frame);
    void hash_through(int64_t end); // hands samples [hashed_to, end) to the hasher
    void dispatch(int64_t segment, bool final);
    // Vorbis: how much later than planned the run of `segment` starts so that its long blocks
    // fall in step with the run before it at their seam (0 when they do or when nothing helps).
    int64_t start_in_step(int64_t segment, const RunJob& job);
    void scan(const RunJob& job, int64_t to); // feeds the scan [where it is, to) of the run
    void consume_oldest();
    RunOutput wait_for(std::future<RunOutput>& result);
    void join(RunJob job, RunOutput made);
    // For Vorbis runs a and b found out of step at their join: b encoded again in step with a,
    // from its first packet after the join j (then set); empty when that finds no join either.
    std::optional<Pending> realign(const Pending& a, const RunJob& job, const RunOutput& made,
                                   std::optional<Junction>& j);
    void write_until(Pending& run, size_t last); // packets [run.next_index, last]
    void write_packet(AVPacket* pkt, bool last_of_stream);
    // With ZMCONV_SEGMENT_LOG: where a join lies (a packet boundary, as a time of the input).
    void log_join(int64_t boundary, const char* how) const;
};

void SegmentedEncoder::Impl::log_join(int64_t boundary, const char* how) const
{
    if (!log)
        return;
    char text[96];
    std::snprintf(text, sizeof text, "segments: join at %.6f s (%s)\n",
                  static_cast<double>(boundary + initial_padding) / inner->sample_rate(), how);
    write_text(STDERR_FILENO, text);
}

RunOutput SegmentedEncoder::Impl::encode_run(const RunJob& job, const Meeting& meeting)
{
    CodecContextPtr ctx = inner->open_twin();
    if (!ctx)
        throw ConvError(Failure::Codec, "the " + inner->name() + " encoder cannot be split");
    const std::vector<uint8_t> own(ctx->extradata, ctx->extradata + ctx->extradata_size);
    if (own != extradata)
        throw ConvError(Failure::Codec,
                        "the parts of the " + inner->name() + " encoding would not fit together");
    std::unique_ptr<VorbisBlocks> vorbis;
    if (codec.join == JoinKind::Vorbis)
        vorbis = std::make_unique<VorbisBlocks>(extradata);

    RunOutput made;
    FramePtr frame = make_frame();
    PacketPtr pkt = make_packet();
    size_t there = 0; // in meeting.other: the first packet not before the last one made
    int same = 0;     // packets in a row the same as the other run's

    // Whether the packet just kept is the kMeetPackets-th in a row that the other run made too.
    auto meets = [&](const PacketFacts& f) {
        const std::vector<PacketFacts>& other = *meeting.other;
        const size_t before = there;
        while (there < other.size() && other[there].pts < f.pts)
            ++there;
        if (same > 0 && there != before + 1)
            same = 0; // the other run made a packet this one did not
        const bool alike = there < other.size() && other[there].pts == f.pts
                           && other[there].end == f.end && other[there].size == f.size
                           && other[there].fingerprint == f.fingerprint;
        if (!alike || (same == 0 && (f.pts <= meeting.after || f.pts >= meeting.before))) {
            same = 0;
            return false;
        }
        if (++same < kMeetPackets)
            return false;
        made.met = {made.facts.size() - kMeetPackets, there + 1 - kMeetPackets};
        return true;
    };

    auto receive = [&] {
        for (;;) {
            const int ret = avcodec_receive_packet(ctx.get(), pkt.get());
            if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
                return;
            check(ret, Failure::Codec, "audio encoding failed");
            const int64_t duration = pkt->duration > 0 ? pkt->duration : plan.frame;
            const int64_t end = pkt->pts + duration;
            if (end > job.keep_low && (job.final || pkt->pts < job.keep_high)) {
                PacketFacts f;
                f.pts = pkt->pts;
                f.end = end;
                const std::span<const uint8_t> bytes(pkt->data, static_cast<size_t>(pkt->size));
                f.shape = packet_shape(codec.join, bytes, vorbis.get());
                if (codec.join == JoinKind::Mp3)
                    if (const auto mp3 = parse_mp3_frame(bytes))
                        f.borrowed = mp3->borrowed;
                if (codec.join != JoinKind::Flac) // FLAC runs meet without comparing packets
                    f.fingerprint = fingerprint(bytes);
                f.size = pkt->size;
                made.facts.push_back(f);
                PacketPtr kept = make_packet();
                av_packet_move_ref(kept.get(), pkt.get());
                made.packets.push_back(std::move(kept));
                if (meeting.other && meets(f))
                    return;
            }
            av_packet_unref(pkt.get());
        }
    };

    size_t chunk = 0;
    for (int64_t pos = job.feed_from; pos < job.feed_to;) {
        if (abort.load(std::memory_order_relaxed) || stop_requested())
            throw ConvError(Failure::Interrupted, "interrupted");
        const int n = static_cast<int>(std::min<int64_t>(plan.frame, job.feed_to - pos));
        if (frame->nb_samples != n || !frame->buf[0]) {
            av_frame_unref(frame.get());
            frame->format = format;
            frame->sample_rate = inner->sample_rate();
            check(av_channel_layout_copy(&frame->ch_layout, &inner->channel_layout()),
                  Failure::Codec, "channel layout");
            frame->nb_samples = n;
            check(av_frame_get_buffer(frame.get(), 0), Failure::Codec, "out of memory");
        } else {
            check(av_frame_make_writable(frame.get()), Failure::Codec, "out of memory");
        }
        // Frames never straddle chunks: both are whole numbers of frames from the start.
        while (chunk + 1 < job.chunks.size()
               && pos >= job.chunks[chunk]->first + job.chunks[chunk]->capacity)
            ++chunk;
        const Chunk& c = *job.chunks[chunk];
        check(av_samples_copy(frame->extended_data, c.planes.data(), 0,
                              static_cast<int>(pos - c.first), n, channels, format),
              Failure::Codec, "audio buffer");
        frame->pts = pos;
        check(avcodec_send_frame(ctx.get(), frame.get()), Failure::Codec, "audio encoding failed");
        receive();
        if (made.met)
            return made;
        const int64_t counted = std::min(pos + n, job.count_to) - std::max(pos, job.count_from);
        if (counted > 0)
            encoded.fetch_add(counted, std::memory_order_relaxed);
        pos += n;
    }
    if (job.final) {
        check(avcodec_send_frame(ctx.get(), nullptr), Failure::Codec, "audio encoding failed");
        receive();
    }
    return made;
}

void SegmentedEncoder::Impl::store(const AVFrame* frame)
{
    int done = 0;
    while (done < frame->nb_samples) {
        const int64_t index = filled / plan.length;
        auto it = chunks.find(index);
        if (it == chunks.end()) {
            if (!buffers)
                buffers =
                    std::make_shared<BufferStore>(static_cast<size_t>(av_samples_get_buffer_size(
                        nullptr, channels, static_cast<int>(plan.length), format, 0)));
            it = chunks
                     .emplace(index, std::make_shared<Chunk>(index * plan.length, plan.length,
                                                             channels, format, buffers))
                     .first;
        }
        Chunk& c = *it->second;
        const int n = static_cast<int>(
            std::min<int64_t>(frame->nb_samples - done, c.first + c.capacity - filled));
        check(av_samples_copy(c.planes.data(), frame->extended_data,
                              static_cast<int>(filled - c.first), done, n, channels, format),
              Failure::Codec, "audio buffer");
        filled += n;
        done += n;
        if (md5 && filled == c.first + c.capacity)
            hash_through(filled);
    }
}

void SegmentedEncoder::Impl::hash_through(int64_t end)
{
    while (hashed_to < end) {
        const ChunkRef c = chunks.at(hashed_to / plan.length);
        const int64_t to = std::min(end, c->first + c->capacity);
        const size_t offset = static_cast<size_t>(hashed_to - c->first);
        const size_t count = static_cast<size_t>(to - hashed_to);
        hasher->submit([this, c, offset, count] {
            const int width = av_get_bytes_per_sample(format);
            hash_flac_samples(md5.get(), c->planes[0] + offset * channels * width, count * channels,
                              format);
        });
        hashed_to = to;
    }
}

void SegmentedEncoder::Impl::dispatch(int64_t segment, bool final)
{
    RunJob job;
    job.first_segment = job.last_segment = segment;
    job.feed_from = plan.feed_from(segment);
    job.feed_to = final ? filled : plan.feed_to(segment);
    job.final = final;
    job.keep_low = plan.keep_low(segment);
    job.keep_high = final ? INT64_MAX : plan.keep_high(segment);
    job.count_from = segment * plan.length;
    job.count_to = final ? filled : (segment + 1) * plan.length;
    for (int64_t i = job.feed_from / plan.length; i * plan.length < job.feed_to; ++i)
        job.chunks.push_back(chunks.at(i));
    if (grid) {
        const int64_t shift = start_in_step(segment, job);
        job.feed_from += shift;
        counts.started_in_step += shift > 0 ? 1 : 0;
    }

    while (static_cast<int>(slots.size()) >= threads)
        consume_oldest();
    auto task =
        std::make_shared<std::packaged_task<RunOutput()>>([this, job] { return encode_run(job); });
    slots.push_back({job, task->get_future()});
    pool->submit([task] { (*task)(); });
    next_run = segment + 1;
    // Samples before the next run's first are held only by the runs that need them.
    const int64_t keep_from = plan.feed_from(next_run) / plan.length;
    while (!chunks.empty() && chunks.begin()->first < keep_from)
        chunks.erase(chunks.begin());
}

int64_t SegmentedEncoder::Impl::start_in_step(int64_t segment, const RunJob& job)
{
    // A fresh encoder's long blocks fall on its own grid until a transient moves them; where the
    // stream before the seam was moved off that grid, the run starts later by what puts it back
    // in step (under one long block), found by scanning where both runs' blocks fall. The scan
    // sees the samples the runs are fed, so this depends on the input alone.
    const int64_t seam = segment * plan.length;
    int64_t shift = 0;
    grid->restart(job.feed_from);
    if (segment > 0) {
        const int64_t from = seam - plan.lead;
        const int64_t to = seam + plan.search;
        scan(job, std::min(job.feed_to, to + 2 * plan.frame));
        if (!find_junction(scanned, grid->packets(), from, to, JoinKind::Vorbis)) {
            if (const auto s = vorbis_realignment(scanned, grid->packets(), from, to, plan.frame)) {
                shift = *s;
                grid->restart(job.feed_from + shift);
            }
        }
    }
    scanned.clear();
    if (!job.final) {
        // What this run makes about the next seam, for the next run's start.
        const int64_t next = (segment + 1) * plan.length;
        scan(job, job.feed_to);
        for (const PacketFacts& f : grid->packets())
            if (f.end >= next - plan.reach)
                scanned.push_back(f);
    }
    return shift;
}

void SegmentedEncoder::Impl::scan(const RunJob& job, int64_t to)
{
    std::array<const float*, AV_NUM_DATA_POINTERS> planes{};
    size_t chunk = 0;
    for (int64_t pos = grid->fed_to(); pos < to;) {
        const int n = static_cast<int>(std::min<int64_t>(plan.frame, to - pos));
        while (chunk + 1 < job.chunks.size()
               && pos >= job.chunks[chunk]->first + job.chunks[chunk]->capacity)
            ++chunk;
        const Chunk& c = *job.chunks[chunk];
        for (int ch = 0; ch < channels; ++ch)
            planes[static_cast<size_t>(ch)] =
                reinterpret_cast<const float*>(c.planes[static_cast<size_t>(ch)]) + (pos - c.first);
        grid->feed(planes.data(), n);
        pos += n;
    }
}

RunOutput SegmentedEncoder::Impl::wait_for(std::future<RunOutput>& result)
{
    while (result.wait_for(kWaitTick) != std::future_status::ready)
        if (waiting)
            waiting();
    return result.get();
}

void SegmentedEncoder::Impl::consume_oldest()
{
    Slot slot = std::move(slots.front());
    slots.pop_front();
    RunOutput made = wait_for(slot.result);
    ++counts.runs;
    join(std::move(slot.job), std::move(made));
}

void SegmentedEncoder::Impl::join(RunJob job, RunOutput made)
{
    if (!pending) {
        pending = Pending{std::move(job), std::move(made), 0};
    } else {
        Pending& a = *pending;
        const int64_t end = (a.job.last_segment + 1) * plan.length;
        std::optional<Junction> j =
            find_junction(a.out.facts, made.facts, end - plan.lead, end + plan.search, codec.join);
        if (j && codec.join == JoinKind::Mp3) {
            std::vector<AVPacket*> before_a;
            for (size_t i = a.next_index; i <= j->last_of_a; ++i)
                before_a.push_back(a.out.packets[i].get());
            std::vector<const AVPacket*> before_b;
            for (size_t i = 0; i < j->first_of_b; ++i)
                before_b.push_back(made.packets[i].get());
            if (!move_reservoir(before_a, before_b, made.facts[j->first_of_b].borrowed))
                j.reset();
        }
        // Vorbis runs out of step: the later run encoded again in step with the earlier one, up
        // to where it meets the later run's first encode (if it does).
        std::optional<Pending> bridge;
        if (!j && codec.join == JoinKind::Vorbis)
            bridge = realign(a, job, made, j);
        if (j) {
            counts.identical_joins += j->identical ? 1 : 0;
            log_join(a.out.facts[j->last_of_a].end, j->identical ? "identical" : "matching");
            write_until(a, j->last_of_a);
            if (bridge && bridge->out.met) {
                // Its packets up to the meeting, then the first encode's from there.
                const auto [here, there] = *bridge->out.met;
                if (here > bridge->next_index)
                    write_until(*bridge, here - 1);
                pending = Pending{std::move(job), std::move(made), there};
            } else if (bridge) {
                pending = std::move(bridge);
            } else {
                pending = Pending{std::move(job), std::move(made), j->first_of_b};
            }
        } else {
            // No boundary to join at: the earlier run is encoded again, through this segment.
            RunJob longer = a.job;
            longer.last_segment = job.last_segment;
            longer.feed_to = job.feed_to;
            longer.final = job.final;
            longer.keep_high = job.keep_high;
            longer.count_from = longer.count_to = 0; // both runs counted their samples already
            for (const ChunkRef& c : job.chunks)
                if (c->first >= longer.chunks.back()->first + longer.chunks.back()->capacity)
                    longer.chunks.push_back(c);
            log_join(end, "none: continued");
            RunOutput again = encode_run(longer);
            ++counts.runs;
            ++counts.continued;
            // The continuation begins with the very packets of the run it continues.
            const size_t next = a.next_index;
            if (next > again.facts.size()
                || (next < again.facts.size() && next < a.out.facts.size()
                    && (again.facts[next].pts != a.out.facts[next].pts
                        || again.facts[next].fingerprint != a.out.facts[next].fingerprint)))
                throw ConvError(Failure::Codec,
                                "the " + inner->name() + " encoder did not repeat itself");
            pending = Pending{std::move(longer), std::move(again), next};
        }
    }
    if (pending->job.final) {
        if (!pending->out.packets.empty())
            write_until(*pending, pending->out.packets.size() - 1);
        pending.reset();
    }
}

std::optional<Pending> SegmentedEncoder::Impl::realign(const Pending& a, const RunJob& job,
                                                       const RunOutput& made,
                                                       std::optional<Junction>& j)
{
    const int64_t end = (a.job.last_segment + 1) * plan.length;
    const auto shift =
        vorbis_realignment(a.out.facts, made.facts, end - plan.lead, end + plan.search, plan.frame);
    if (!shift)
        return std::nullopt;
    RunJob later = job;
    later.feed_from += *shift;
    later.count_from = later.count_to = 0; // counted by the first encode
    // Where a transient brings both encodes into step, the second stops: only the stretch out of
    // step is encoded twice. It meets the first after the join it is for, and before the next
    // join's search (which looks at the first encode's packets).
    Meeting meeting{&made.facts, end + plan.search + 2 * plan.frame, INT64_MAX};
    if (!job.final)
        meeting.before = (job.last_segment + 1) * plan.length - plan.lead - plan.reach;
    RunOutput again = encode_run(later, meeting);
    ++counts.runs;
    const std::optional<Junction> k =
        find_junction(a.out.facts, again.facts, end - plan.lead, end + plan.search, codec.join);
    if (log)
        write_text(STDERR_FILENO,
                   "segments: run encoded again " + std::to_string(*shift) + " samples later"
                       + (!k          ? ", still no join"
                          : again.met ? ", back in step at sample "
                                            + std::to_string(again.facts[again.met->first].pts)
                                      : "")
                       + "\n");
    if (!k)
        return std::nullopt;
    ++counts.realigned;
    counts.met += again.met ? 1 : 0;
    j = k;
    return Pending{std::move(later), std::move(again), k->first_of_b};
}

void SegmentedEncoder::Impl::write_until(Pending& run, size_t last)
{
    const bool final = run.job.final && last + 1 == run.out.packets.size();
    for (size_t i = run.next_index; i <= last && i < run.out.packets.size(); ++i)
        write_packet(run.out.packets[i].get(), final && i == last);
    run.next_index = last + 1;
}

void SegmentedEncoder::Impl::write_packet(AVPacket* pkt, bool last_of_stream)
{
    if (codec.join == JoinKind::Flac) {
        if (pkt->size > 0) {
            if (!flac_set_frame_number(pkt, pkt->pts / plan.frame))
                throw ConvError(Failure::Codec, "a FLAC frame of the encoder did not parse");
            min_frame = std::min(min_frame, pkt->size);
            max_frame = std::max(max_frame, pkt->size);
        }
        size_t size = 0;
        if (uint8_t* info = av_packet_get_side_data(pkt, AV_PKT_DATA_NEW_EXTRADATA, &size);
            info && size == 34 && last_of_stream) {
            std::array<uint8_t, 16> sum{};
            if (hashed.valid())
                hashed.wait();
            av_md5_final(md5.get(), sum.data());
            flac_update_streaminfo(std::span<uint8_t, 34>(info, 34), filled,
                                   min_frame == INT_MAX ? 0 : min_frame, max_frame, sum);
        }
    }
    pkt->stream_index = inner->stream()->index;
    out.write(pkt, time_base);
}

SegmentedEncoder::SegmentedEncoder(std::unique_ptr<AudioEncoder> inner, OutputFile& out,
                                   const SegmentCodec& codec, const SegmentPlan& plan, int threads)
    : AudioEncoder(out), m_impl(std::make_unique<Impl>(std::move(inner), out, codec, plan, threads))
{
    Impl& d = *m_impl;
    const AudioEncoder& e = *d.inner;
    m_stream = e.stream();
    m_format = e.sample_format();
    m_rate = e.sample_rate();
    check(av_channel_layout_copy(&m_layout, &e.channel_layout()), Failure::Codec, "channel layout");
    m_frame_size = e.frame_size();
    d.format = m_format;
    d.channels = m_layout.nb_channels;
    d.time_base = e.time_base();
    const AVCodecParameters* par = m_stream->codecpar;
    d.extradata.assign(par->extradata, par->extradata + par->extradata_size);
    d.initial_padding = par->initial_padding;
    if (codec.join == JoinKind::Flac) {
        d.md5.reset(av_md5_alloc());
        if (!d.md5)
            throw ConvError(Failure::Codec, "out of memory");
        av_md5_init(d.md5.get());
        d.hasher = std::make_unique<Pool>(1);
    }
    if (codec.join == JoinKind::Vorbis && d.format == AV_SAMPLE_FMT_FLTP
        && d.channels <= AV_NUM_DATA_POINTERS && vorbis_scan_enabled()) {
        // Set up as the runs' encoders are: the bit rate they are opened with. Without the scan
        // the runs still join, only at more cost.
        const CodecContextPtr twin = e.open_twin();
        try {
            if (twin)
                d.grid = std::make_unique<VorbisGrid>(d.channels, d.inner->sample_rate(),
                                                      twin->bit_rate);
        } catch (const ConvError&) {
            d.grid.reset();
        }
    }
    d.pool = std::make_unique<Pool>(d.threads);
}

SegmentedEncoder::~SegmentedEncoder()
{
    // Runs still under way end at their next frame; their results are dropped.
    m_impl->abort.store(true);
    m_impl->pool.reset();
    av_channel_layout_uninit(&m_layout);
}

std::string SegmentedEncoder::name() const
{
    return m_impl->inner->name();
}

void SegmentedEncoder::encode(const AVFrame* frame)
{
    Impl& d = *m_impl;
    if (d.ended)
        return;
    if (frame) {
        if (frame->nb_samples <= 0)
            return;
        d.store(frame);
        while (d.filled >= d.plan.needed_for(d.next_run))
            d.dispatch(d.next_run, false);
        return;
    }
    d.ended = true;
    if (d.md5) {
        d.hash_through(d.filled);
        auto done = std::make_shared<std::promise<void>>();
        d.hashed = done->get_future();
        d.hasher->submit([done] { done->set_value(); });
    }
    if (d.filled > d.next_run * d.plan.length)
        d.dispatch(d.next_run, true);
    while (!d.slots.empty())
        d.consume_oldest();
    d.chunks.clear();
    if (d.log)
        write_text(STDERR_FILENO, "segments: " + std::to_string(d.counts.runs) + " runs on "
                                      + std::to_string(d.threads) + " threads, "
                                      + std::to_string(d.counts.continued) + " continued, "
                                      + std::to_string(d.counts.realigned) + " realigned, "
                                      + std::to_string(d.counts.met) + " back in step, "
                                      + std::to_string(d.counts.started_in_step)
                                      + " started in step\n");
}

int64_t SegmentedEncoder::samples_encoded() const
{
    return m_impl->encoded.load(std::memory_order_relaxed);
}

void SegmentedEncoder::set_waiting(std::function<void()> callback)
{
    m_impl->waiting = std::move(callback);
}

SegmentedEncoder::Counts SegmentedEncoder::counts() const
{
    return m_impl->counts;
}

std::unique_ptr<AudioEncoder> segmented_if_worth_it(std::unique_ptr<AudioEncoder> encoder,
                                                    OutputFile& out, int64_t samples, int threads,
                                                    double segment_seconds)
{
    if (segment_seconds <= 0 || samples <= 0)
        return encoder;
    const SegmentCodec* codec = segment_codec(encoder->name());
    if (!codec)
        return encoder;
    const SegmentPlan plan = make_segment_plan(
        *codec, encoder->sample_rate(), encoder->frame_size(), segment_seconds, kFreeFrameSize);
    if (!worth_splitting(plan, samples) || !encoder->open_twin())
        return encoder;
    return std::make_unique<SegmentedEncoder>(std::move(encoder), out, *codec, plan,
                                              segment_threads(threads));
}

} // namespace zmconv
