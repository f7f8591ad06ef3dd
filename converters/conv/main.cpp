// conv: extracts the audio of a media file into MP3, WMA, OGG, WAV, FLAC, AC3, AAC or AMR.
#include "conv_job.h"
#include "errors.h"
#include "progress.h"

#include <exception>
#include <new>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    zmconv::install_signal_handlers();
    zmconv::capture_library_log();
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        const conv::Job job = conv::parse_command_line(args);
        conv::run(job, [](const std::string& text) { zmconv::write_text(STDOUT_FILENO, text); });
        return 0;
    } catch (const zmconv::ConvError& e) {
        zmconv::write_text(STDERR_FILENO, std::string("conv: ") + e.what() + "\n");
        return e.exit_code();
    } catch (const std::bad_alloc&) {
        zmconv::write_text(STDERR_FILENO, "conv: out of memory\n");
        return static_cast<int>(zmconv::Failure::Codec);
    } catch (const std::exception& e) {
        zmconv::write_text(STDERR_FILENO, std::string("conv: ") + e.what() + "\n");
        return static_cast<int>(zmconv::Failure::Codec);
    }
}
