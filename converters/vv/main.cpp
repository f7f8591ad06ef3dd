// vv: converts a video into 3gp, 3g2, mp4, avi or flv with FFmpeg-style options and keeps
// progress.txt beside itself (or the file named by VV_PROGRESS_FILE) up to date, in tenths of
// a percent.
#include "vv/convert.h"
#include "vv/options.h"
#include "vv/progress_file.h"

#include "common/program.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr const char *kUsage =
    "usage: vv -i INPUT [options] OUTPUT\n"
    "Converts the picture and sound of INPUT into OUTPUT, whose extension picks the container\n"
    "(.3gp .3g2 .mp4 .avi .flv, or another FFmpeg knows).\n"
    "\n"
    "  -i FILE                the input (a regular file)\n"
    "  -y                     replace an existing OUTPUT (only by a complete conversion)\n"
    "  -vcodec NAME, -c:v     video encoder (mpeg4, libxvid, h263, flv, libx264, ...)\n"
    "  -b RATE, -b:v          video bit rate, such as 512k\n"
    "  -s WxH                 frame size, such as 320x240 (even numbers)\n"
    "  -r RATE                frame rate, such as 25 or 14.985\n"
    "  -aspect W:H            display aspect ratio\n"
    "  -fpre FILE             encoder options, one key=value a line (no options naming files)\n"
    "  -strict LEVEL          experimental, unofficial, normal, strict or very\n"
    "  -acodec NAME, -c:a     audio encoder (libmp3lame, mp2, pcm_s16le, aac, libopencore_amrnb)\n"
    "  -ab RATE, -b:a         audio bit rate, such as 128k\n"
    "  -ar HZ                 sample rate\n"
    "  -ac N                  channels\n"
    "  --no-verify            do not read the output back before it gets its name\n"
    "  --help, --version\n"
    "\n"
    "Progress: progress.txt beside vv (or the file VV_PROGRESS_FILE names) holds tenths of a\n"
    "percent (0 to 1000); a progress file that is the input, the output or another file is\n"
    "refused. On stderr: one line for an error, \"vv: note: ...\" for a value\n"
    "changed to one the encoder takes, \"vv: warning: ...\" when the input was damaged.\n"
    "Before OUTPUT gets its name it is read back through; a length that is not what was\n"
    "converted (within a frame or 50 ms) fails: \"vv: output check failed: 2.1 s of 3.0 s\",\n"
    "exit 5, and OUTPUT is not written.\n";

} // namespace

int main(int argc, char **argv)
{
    return zmconv::run_program(
        {"vv", kUsage}, argc, argv, [](const std::vector<std::string> &args) {
            const vv::Options options = vv::parse_options(args);
            const std::string folder = vv::executable_folder();
            const std::string progress_path =
                vv::progress_file_path(std::getenv("VV_PROGRESS_FILE"), folder);
            vv::check_progress_file(progress_path, options.input, options.output);
            vv::ProgressFile progress(progress_path);
            vv::convert(options, progress);
        });
}
