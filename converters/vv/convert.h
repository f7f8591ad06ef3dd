// One whole conversion of vv: input -> video path (+ audio path when the input has sound)
// -> output, with progress.txt kept up to date.
#pragma once

#include "vv/options.h"
#include "vv/progress_file.h"

#include <string>

struct AVOutputFormat;

namespace vv {

// The audio encoder name for the -acodec text, or for the container's default when empty.
// Throws zmconv::ConvError(Failure::Usage) for a codec the converter does not know.
std::string audio_encoder_name(const std::string &requested, const AVOutputFormat *format);
// The video encoder name for the -vcodec text, or for the container's default when empty.
std::string video_encoder_name(const std::string &requested, const AVOutputFormat *format);

// Runs the conversion. Throws zmconv::ConvError; the partial output is then removed.
void convert(const Options &options, ProgressFile &progress);

} // namespace vv
