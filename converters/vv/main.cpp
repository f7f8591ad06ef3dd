// vv: converts a video into 3gp, 3g2, mp4, avi or flv with FFmpeg-style options and keeps
// progress.txt beside itself (or the file named by VV_PROGRESS_FILE) up to date, in tenths of
// a percent.
#include "convert.h"
#include "options.h"
#include "progress_file.h"

#include "../common/errors.h"
#include "../common/progress.h"

#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    zmconv::capture_library_log();
    zmconv::install_signal_handlers();
    try {
        const vv::Options options =
            vv::parseOptions(std::vector<std::string>(argv + 1, argv + argc));
        vv::ProgressFile progress(
            vv::progressFilePath(std::getenv("VV_PROGRESS_FILE"), vv::executableFolder()));
        vv::convert(options, progress);
        return 0;
    } catch (const zmconv::ConvError &e) {
        zmconv::write_text(2, std::string("vv: ") + e.what() + "\n");
        return e.exit_code();
    } catch (const std::exception &e) {
        zmconv::write_text(2, std::string("vv: ") + e.what() + "\n");
        return static_cast<int>(zmconv::Failure::Codec);
    }
}
