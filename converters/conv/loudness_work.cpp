#include "conv/loudness_work.h"

#include "common/errors.h"
#include "common/mp4_tags.h"
#include "common/output_target.h"
#include "common/program.h"
#include "common/tag_patch.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace conv {

using zmconv::ConvError;
using zmconv::Failure;
using zmconv::Loudness;

namespace {

// Placeholders of the track's tags, as wide as the values that replace them.
constexpr const char* kGainHolder = "{zmRG-tg}"; // "+3.210 dB", "-12.34 dB"
constexpr const char* kPeakHolder = "{zmRGtp}";  // "0.912345"
constexpr const char* kR128Holder = "{zmRt}";    // "-00256"

std::string text(const char* format, double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

// "+3.210 dB" or "-12.34 dB": always nine characters, so the value fits its placeholder.
std::string gain_text(double db)
{
    db = std::clamp(db, -99.99, 99.99);
    const double thousandths = std::round(db * 1000.0) / 1000.0;
    if (std::abs(thousandths) < 9.9995)
        return text("%+.3f dB", thousandths == 0 ? 0.0 : thousandths);
    return text("%+.2f dB", db);
}

// "0.912345": eight characters.
std::string peak_text(double peak)
{
    return text("%.6f", std::clamp(peak, 0.0, 9.999999));
}

// Q7.8 dB, six characters ("-00256", "000512").
std::string r128_text(double db)
{
    const long q = std::lround(std::clamp(db * 256.0, -32768.0, 32767.0));
    char buf[16];
    std::snprintf(buf, sizeof buf, "%06ld", q);
    return buf;
}

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool starts_with(const std::string& s, const char* prefix)
{
    return s.rfind(prefix, 0) == 0;
}

std::string read_small_file(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw ConvError(Failure::Input, "cannot read " + path + ": " + std::strerror(errno));
    std::string out;
    char buf[65536];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int e = errno;
            close(fd);
            throw ConvError(Failure::Input, "cannot read " + path + ": " + std::strerror(e));
        }
        if (n == 0)
            break;
        out.append(buf, static_cast<size_t>(n));
        if (out.size() > (64u << 20)) {
            close(fd);
            throw ConvError(Failure::Usage, "\"" + path + "\" is too large for a loudness file");
        }
    }
    close(fd);
    return out;
}

} // namespace

TagStyle tag_style(const std::string& muxer)
{
    if (muxer == "mp3" || muxer == "flac" || muxer == "ogg" || muxer == "asf")
        return TagStyle::Header;
    if (muxer == "ipod" || muxer == "mp4")
        return TagStyle::Mp4;
    if (muxer == "opus")
        return TagStyle::Opus;
    return TagStyle::None;
}

bool sample_peak_format(const std::string& muxer)
{
    return muxer == "flac" || muxer == "wav";
}

std::string format_title(const std::string& muxer)
{
    if (muxer == "adts")
        return "AAC (ADTS)";
    std::string t = muxer;
    std::transform(t.begin(), t.end(), t.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return t;
}

Album read_album(const std::vector<std::string>& files)
{
    std::vector<Loudness> tracks;
    tracks.reserve(files.size());
    for (const std::string& f : files)
        tracks.push_back(zmconv::parse_loudness_json(read_small_file(f), f));
    std::vector<const Loudness*> all;
    Album album;
    for (const Loudness& t : tracks) {
        all.push_back(&t);
        album.peak = std::max(album.peak, t.peak);
        album.true_peak = std::max(album.true_peak, t.true_peak);
    }
    album.loudness = zmconv::gated_loudness(all);
    return album;
}

std::vector<std::pair<std::string, std::string>> gain_tags(TagStyle style, const Loudness* track,
                                                           bool sample_peak, const Album* album)
{
    std::vector<std::pair<std::string, std::string>> tags;
    if (style == TagStyle::None)
        return tags;
    if (style == TagStyle::Opus) {
        if (track && track->integrated)
            tags.emplace_back("R128_TRACK_GAIN",
                              r128_text(zmconv::kR128Reference - *track->integrated));
        if (album && album->loudness)
            tags.emplace_back("R128_ALBUM_GAIN",
                              r128_text(zmconv::kR128Reference - *album->loudness));
        return tags;
    }
    const double track_peak = track ? (sample_peak ? track->sample_peak : track->true_peak) : 0.0;
    if (track && track->integrated) {
        tags.emplace_back("REPLAYGAIN_TRACK_GAIN",
                          gain_text(zmconv::kReplayGainReference - *track->integrated));
        tags.emplace_back("REPLAYGAIN_TRACK_PEAK", peak_text(track_peak));
    }
    if (album && album->loudness) {
        tags.emplace_back("REPLAYGAIN_ALBUM_GAIN",
                          gain_text(zmconv::kReplayGainReference - *album->loudness));
        // An album peaks at least where any of its tracks does: this track as measured now too,
        // should that be a hair above what its measurement file held.
        tags.emplace_back("REPLAYGAIN_ALBUM_PEAK", peak_text(std::max(album->peak, track_peak)));
    }
    return tags;
}

std::string loudness_line(const Loudness& l, bool true_peak)
{
    const double peak = true_peak ? l.true_peak : l.sample_peak;
    std::string s = "Loudness: ";
    s += l.integrated ? text("%.2f LUFS", *l.integrated) : "silent";
    s += text(", range %.2f LU", l.range);
    s += true_peak ? ", true peak " : ", sample peak ";
    s += peak > 0 ? text("%.2f", 20.0 * std::log10(peak)) : "-inf";
    s += true_peak ? " dBTP\n" : " dBFS\n";
    return s;
}

LoudnessWork::LoudnessWork(const LoudnessOptions& options, const std::string& muxer)
    : m_options(options), m_muxer(muxer), m_style(tag_style(muxer))
{
    if (!options.album.empty())
        m_album = read_album(options.album);
    if (m_album.loudness && options.album_gain_db != 0) {
        *m_album.loudness += options.album_gain_db;
        m_album.peak *= std::pow(10.0, options.album_gain_db / 20.0);
    }
    // An album's files that only set the gain of a normalisation ask for no tags.
    const bool album_tags = !options.album.empty() && !options.normalise;
    if ((options.track_tags || album_tags) && m_style == TagStyle::None)
        zmconv::note(format_title(muxer) + " files carry no ReplayGain tags; none written");
}

LoudnessWork::~LoudnessWork() = default;

bool LoudnessWork::measuring() const
{
    return m_options.track_tags || !m_options.json_out.empty();
}

void LoudnessWork::prepare_tags(AVDictionary** tags)
{
    if (m_style == TagStyle::None)
        return;
    // The source's gains describe other sound: new track values replace all of them, an album's
    // replace its album values.
    const bool album = !m_options.album.empty();
    std::vector<std::string> stale;
    std::vector<std::pair<std::string, std::string>> kept;
    const AVDictionaryEntry* e = nullptr;
    while ((e = av_dict_get(*tags, "", e, AV_DICT_IGNORE_SUFFIX))) {
        const std::string key = lower(e->key);
        const bool gain = starts_with(key, "replaygain_") || starts_with(key, "r128_");
        const bool album_key =
            starts_with(key, "replaygain_album_") || starts_with(key, "r128_album_");
        if (gain && (m_options.track_tags || (album && album_key)))
            stale.emplace_back(e->key);
        else if (gain && m_style == TagStyle::Mp4)
            kept.emplace_back(e->key, e->value);
    }
    for (const std::string& key : stale)
        av_dict_set(tags, key.c_str(), nullptr, 0);
    if (m_style == TagStyle::Mp4) {
        // The MP4 muxer leaves these out: they are added as atoms at the end (attach).
        m_mp4_kept = kept;
        return;
    }
    for (const auto& [key, value] : gain_tags(m_style, nullptr, false, album ? &m_album : nullptr))
        av_dict_set(tags, key.c_str(), value.c_str(), 0);
    if (m_options.track_tags) {
        if (m_style == TagStyle::Opus) {
            av_dict_set(tags, "R128_TRACK_GAIN", kR128Holder, 0);
        } else {
            av_dict_set(tags, "REPLAYGAIN_TRACK_GAIN", kGainHolder, 0);
            av_dict_set(tags, "REPLAYGAIN_TRACK_PEAK", kPeakHolder, 0);
        }
        m_placeholders = true;
    }
}

void LoudnessWork::attach(zmconv::OutputFile& out)
{
    if (m_style == TagStyle::None)
        return;
    if (m_style == TagStyle::Mp4) {
        if (!m_options.track_tags && m_options.album.empty())
            return;
        out.set_before_commit([this](int fd) {
            zmconv::Mp4Tags tags = m_mp4_kept;
            const Loudness* track = m_options.track_tags ? &result() : nullptr;
            for (auto& t : gain_tags(m_style, track, sample_peak_format(m_muxer),
                                     m_options.album.empty() ? nullptr : &m_album))
                tags.push_back(std::move(t));
            if (!tags.empty())
                zmconv::add_mp4_freeform_tags(fd, tags);
        });
        return;
    }
    if (!m_placeholders)
        return;
    out.set_before_commit([this](int fd) {
        const Loudness& l = result();
        zmconv::TagPatches patches;
        if (!l.integrated) {
            // Silence has no loudness: it gets no gain.
            patches = {{kGainHolder, gain_text(0)},
                       {kPeakHolder, peak_text(0)},
                       {kR128Holder, r128_text(0)}};
        } else {
            for (const auto& [key, value] :
                 gain_tags(m_style, &l, sample_peak_format(m_muxer), nullptr)) {
                if (key == "REPLAYGAIN_TRACK_GAIN")
                    patches.emplace_back(kGainHolder, value);
                else if (key == "REPLAYGAIN_TRACK_PEAK")
                    patches.emplace_back(kPeakHolder, value);
                else if (key == "R128_TRACK_GAIN")
                    patches.emplace_back(kR128Holder, value);
            }
        }
        if (m_style == TagStyle::Opus)
            patches.erase(std::remove_if(patches.begin(), patches.end(),
                                         [](const auto& p) { return p.first != kR128Holder; }),
                          patches.end());
        else
            patches.erase(std::remove_if(patches.begin(), patches.end(),
                                         [](const auto& p) { return p.first == kR128Holder; }),
                          patches.end());
        zmconv::patch_tags(fd, patches);
    });
}

void LoudnessWork::add(const AVFrame* frame)
{
    const int rate = frame->sample_rate;
    const int channels = frame->ch_layout.nb_channels;
    if (!m_meter) {
        if (rate <= 0 || channels <= 0)
            return;
        m_meter = std::make_unique<zmconv::LoudnessMeter>(frame->ch_layout, rate);
        m_rate = rate;
        m_channels = channels;
    }
    if (rate == m_rate && channels == m_channels)
        m_meter->add(frame);
}

void LoudnessWork::measure_output(zmconv::OutputFile& out, const AVStream* stream)
{
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec)
        throw ConvError(Failure::Codec, "cannot measure the loudness: no decoder for the output");
    m_decoder.reset(avcodec_alloc_context3(codec));
    m_decoded = zmconv::make_frame();
    if (!m_decoder)
        throw ConvError(Failure::Codec, "out of memory");
    const AVCodecParameters* par = stream->codecpar;
    m_skip = -1; // known once the encoder has said (with its first packet)
    out.set_packet_tap(stream->index, [this, par](const AVPacket* pkt, AVRational) {
        AVCodecContext* dec = m_decoder.get();
        if (!avcodec_is_open(dec)) {
            // The encoder's parameters (and headers) are final once packets come.
            zmconv::check(avcodec_parameters_to_context(dec, par), Failure::Codec,
                          "cannot measure the loudness");
            zmconv::check(avcodec_open2(dec, avcodec_find_decoder(par->codec_id), nullptr),
                          Failure::Codec, "cannot measure the loudness");
            m_skip = std::max(0, par->initial_padding);
        }
        if (avcodec_send_packet(dec, pkt) >= 0)
            receive_decoded();
    });
}

void LoudnessWork::measure_checked(zmconv::OutputFile& out)
{
    out.set_check_sound([this](const AVFrame* f) { add(f); });
}

void LoudnessWork::receive_decoded()
{
    AVFrame* f = m_decoded.get();
    while (avcodec_receive_frame(m_decoder.get(), f) >= 0) {
        // The encoder's priming is not part of the sound: players skip it, and so does the
        // measurement (it would shift every gating block).
        const int64_t skip = std::min<int64_t>(m_skip, f->nb_samples);
        m_skip -= skip;
        if (skip == 0) {
            add(f);
        } else if (skip < f->nb_samples) {
            const bool planar = av_sample_fmt_is_planar(static_cast<AVSampleFormat>(f->format));
            const int bytes = av_get_bytes_per_sample(static_cast<AVSampleFormat>(f->format))
                              * (planar ? 1 : f->ch_layout.nb_channels);
            const int planes = planar ? f->ch_layout.nb_channels : 1;
            for (int p = 0; p < planes; ++p)
                f->extended_data[p] += skip * bytes;
            f->nb_samples -= static_cast<int>(skip);
            add(f);
            for (int p = 0; p < planes; ++p)
                f->extended_data[p] -= skip * bytes;
        }
        av_frame_unref(f);
    }
}

const Loudness& LoudnessWork::result()
{
    if (m_decoder && avcodec_is_open(m_decoder.get())) {
        avcodec_send_packet(m_decoder.get(), nullptr);
        receive_decoded();
        m_decoder.reset();
    }
    if (!m_result) {
        if (!m_meter)
            throw ConvError(Failure::Codec, "no sound was measured");
        m_result = m_meter->result();
    }
    return *m_result;
}

void LoudnessWork::finish(const TextSink& progress)
{
    if (!measuring())
        return;
    const Loudness& l = result();
    const bool true_peak = !sample_peak_format(m_muxer);
    progress(loudness_line(l, true_peak));
    if (m_options.json_out.empty())
        return;
    zmconv::OutputTarget target({m_options.json_out, true, "", true});
    target.open();
    const std::string json = zmconv::loudness_json(l, true_peak);
    size_t done = 0;
    while (done < json.size()) {
        const ssize_t n = write(target.fd(), json.data() + done, json.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw ConvError(Failure::Codec, "cannot write " + m_options.json_out + ": "
                                                + std::strerror(n < 0 ? errno : ENOSPC));
        done += static_cast<size_t>(n);
    }
    target.commit();
}

} // namespace conv
