// conv: extracts the audio of a media file into MP3, WMA, OGG, WAV, FLAC, AC3, AAC, AMR, M4A
// or Opus, copying it unchanged when it already has the format's codec.
#include "conv/conv_job.h"
#include "common/program.h"
#include "common/progress.h"

#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: conv -i INPUT [options] OUTPUT\n"
    "Extracts the sound of INPUT into OUTPUT, whose extension picks the format:\n"
    ".mp3 .wma .ogg .wav .flac .ac3 .aac .amr .m4a (AAC, 192k) .opus (Opus, 128k, 48000 Hz)\n"
    "Sound that already has the format's codec is copied unchanged (lossless, fast) when\n"
    "-ab, -ar and -ac are not given or equal the input's, and there is no cut.\n"
    "\n"
    "  -i FILE             the input (a regular file)\n"
    "  -ss TIME            start this far into the input (seconds or [HH:]MM:SS[.frac])\n"
    "  -t TIME             convert this much of it\n"
    "  -y                  replace an existing OUTPUT (only by a complete conversion)\n"
    "  -n                  never replace an existing OUTPUT (the default)\n"
    "  -vn                 no video (there never is any; accepted as sent)\n"
    "  -ab RATE, -b:a      bit rate, such as 192k\n"
    "  -ar HZ              sample rate\n"
    "  -ac N               channels\n"
    "  -acodec NAME, -c:a  encoder instead of the format's own; \"copy\" copies or fails\n"
    "  -map_meta_data ARG  copy the input's tags, and its cover into MP3, M4A and FLAC\n"
    "                      (also -map_metadata; done without it too, as the output allows)\n"
    "  -map_metadata -1    leave the tags and the cover behind\n"
    "  -threads N          encode an input of two minutes or more in one-minute segments on\n"
    "                      up to N threads (0, the default: ZM_CONV_THREADS, else every core);\n"
    "                      the output is the same for every N\n"
    "  --no-verify         do not read the output back before it gets its name\n"
    "\n"
    "Loudness (EBU R 128, measured on the sound as the output holds it):\n"
    "  -replaygain track   write ReplayGain 2.0 track tags (reference -18 LUFS): MP3, OGG,\n"
    "                      FLAC, WMA, M4A; Opus gets R128_TRACK_GAIN (Q7.8, -23 LUFS). The\n"
    "                      peak is the true peak, for FLAC and WAV the sample peak\n"
    "  -loudness-out FILE  write the measurement, with the blocks album gain needs, as JSON\n"
    "  -album-from FILE    (once per track of the album) write REPLAYGAIN_ALBUM_GAIN/_PEAK\n"
    "                      (Opus: R128_ALBUM_GAIN) from the measurements of all its tracks\n"
    "  -loudnorm LUFS      one gain to that loudness (-70 to 0), never past the ceiling;\n"
    "                      with -album-from, the album's one gain for every track\n"
    "  -loudnorm-ceiling DBTP  true-peak ceiling of -loudnorm (default -1)\n"
    "  -measure-only       with -loudness-out: measure the sound a conversion to OUT would\n"
    "                      make (cut, rate, channels) and write only that file, no OUT\n"
    "  conv -retag FILE [-retag FILE]... [-replaygain track] [-album-from JSON]...\n"
    "                      [-loudness-out JSON]\n"
    "                      write tags into finished FILEs without encoding them again\n"
    "  --help, --version\n"
    "\n"
    "Progress on stdout: \"Duration: HH:MM:SS.cc, ...\" once, then \"size=... time=SECONDS.cc "
    "...\"\n"
    "lines; \"Loudness: ...\" once when measured. On stderr: one line for an error,\n"
    "\"conv: note: ...\" for a value changed to one the encoder takes, \"conv: warning: ...\"\n"
    "when the input was damaged.\n"
    "Before OUTPUT gets its name it is decoded whole; a length that is not that of the sound\n"
    "read from INPUT (within a frame or 50 ms) fails: \"conv: output check failed: 2.1 s of\n"
    "3.0 s\", exit 5, and OUTPUT is not written.\n";

} // namespace

int main(int argc, char** argv)
{
    return zmconv::run_program({"conv", kUsage}, argc, argv,
                               [](const std::vector<std::string>& args) {
                                   const conv::Job job = conv::parse_command_line(args);
                                   const auto progress = [](const std::string& text) {
                                       zmconv::write_text(STDOUT_FILENO, text);
                                   };
                                   conv::run(job, progress);
                                   for (const std::string& file : job.retag_more) {
                                       conv::Job next = job;
                                       next.input = next.output = file;
                                       next.retag_more.clear();
                                       conv::run(next, progress);
                                   }
                               });
}
