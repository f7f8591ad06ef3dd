// Encoder preset files (-fpre): "key=value" lines of encoder options.
// Blank lines and lines starting with '#' are comments; blanks around keys and values are
// ignored. Any other line without '=' or with an empty key is an error.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vv {

using PresetEntries = std::vector<std::pair<std::string, std::string>>;

// Both throw zmconv::ConvError(Failure::Input) with one line naming the file (and line).
// Parses the text of a preset file; `name` is used in error messages.
PresetEntries parsePreset(const std::string &text, const std::string &name);

// Reads and parses a preset file. A missing, unreadable, oversized or binary file is an error.
PresetEntries readPresetFile(const std::string &path);

} // namespace vv
