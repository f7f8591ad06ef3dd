// vv: converts a video into 3gp, 3g2, mp4, avi or flv with FFmpeg-style options and keeps
// progress.txt beside itself up to date (tenths of a percent).
#include "convert.h"
#include "options.h"
#include "progress_file.h"

#include "../common/errors.h"
#include "../common/progress.h"

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
        const std::string folder = vv::executableFolder();
        vv::ProgressFile progress(folder.empty() ? std::string() : folder + "/progress.txt");
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
