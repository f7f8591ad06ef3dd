// The converter the video pictures are taken with, so that they show the same progress on every
// run. It keeps its progress where VV_PROGRESS_FILE says, as vv does. The input whose file name
// VV_SHOTS_HOLD names stops at 39% until the window stops it (SIGTERM ends it, as it ends vv),
// or for at most a minute; any other input is written out at once as a copy of itself.
//   video_shots_vv -i <input> [options...] <output>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

void WriteProgress(const char *file, int tenths)
{
    std::ofstream(file, std::ios::trunc) << tenths;
}

} // namespace

int main(int argc, char **argv)
{
    const char *progress = std::getenv("VV_PROGRESS_FILE");
    const char *hold = std::getenv("VV_SHOTS_HOLD");
    if (!progress || !*progress || argc < 4)
        return 2;
    std::string input;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "-i") == 0)
            input = argv[i + 1];
    const std::filesystem::path in(input);
    if (hold && in.filename() == hold) {
        WriteProgress(progress, 390);
        std::this_thread::sleep_for(std::chrono::minutes(1));
        return 1;
    }
    std::error_code error;
    std::filesystem::copy_file(in, argv[argc - 1],
                               std::filesystem::copy_options::overwrite_existing, error);
    if (error)
        return 1;
    WriteProgress(progress, 1000);
    return 0;
}
