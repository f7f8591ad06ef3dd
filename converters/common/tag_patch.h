// Tag values filled in after the sound is written. Formats that keep their tags in front of the
// sound (ID3v2 in MP3, Vorbis comments in FLAC, Ogg and Opus) get a placeholder of the final
// value's width when the header is written; once the measurement is done, the placeholder's
// bytes are overwritten in place with the value, and an Ogg page that holds one gets its
// checksum again. Nothing moves, so no other part of the file changes.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zmconv {

// (placeholder, value) pairs; each value exactly as long as its placeholder.
using TagPatches = std::vector<std::pair<std::string, std::string>>;

// Replaces the first occurrence of each placeholder in the file open for reading and writing at
// fd. Throws ConvError(Failure::Codec) when one is missing or a length differs.
void patch_tags(int fd, const TagPatches& patches);

// The same on bytes in memory (the file's start); returns false when a placeholder is missing.
bool patch_tags_in(std::string& bytes, const TagPatches& patches);

// The checksum of an Ogg page (its checksum field taken as zero).
uint32_t ogg_page_crc(const unsigned char* page, size_t size);

} // namespace zmconv
