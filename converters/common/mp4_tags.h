// iTunes "freeform" tags (----:com.apple.iTunes:NAME) in a finished MP4/M4A file, where players
// read ReplayGain from. libavformat's MP4 muxer writes only the tags it knows by name, so these
// are added to the file afterwards: its movie box (moov) is rewritten in place with the tags in
// its item list (moov/udta/meta/ilst), which is made where it is missing. The muxer puts the
// movie box last, after the sound, so no sample offset moves; a file whose movie box is not
// last is refused.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace zmconv {

using Mp4Tags = std::vector<std::pair<std::string, std::string>>; // name, UTF-8 value

// Adds the tags to the file open for reading and writing at fd, replacing freeform tags of the
// same names (compared without regard to case). Throws ConvError(Failure::Codec).
void add_mp4_freeform_tags(int fd, const Mp4Tags& tags);

// The same on bytes: the movie box (starting with its header) with the tags added.
std::string movie_box_with_tags(const std::string& moov, const Mp4Tags& tags);

} // namespace zmconv
