#include "preset.h"

#include "../common/errors.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace vv {
namespace {

std::string trim(const std::string &s)
{
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

constexpr std::streamsize kMaxPresetBytes = 64 * 1024;

} // namespace

PresetEntries parsePreset(const std::string &text, const std::string &name)
{
    PresetEntries entries;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const std::string t = trim(line);
        if (t.empty() || t[0] == '#')
            continue;
        const auto eq = t.find('=');
        if (eq == std::string::npos)
            throw zmconv::ConvError(zmconv::Failure::Input, "preset file " + name + " line " + std::to_string(number)
                              + ": expected key=value");
        const std::string key = trim(t.substr(0, eq));
        const std::string value = trim(t.substr(eq + 1));
        if (key.empty())
            throw zmconv::ConvError(zmconv::Failure::Input, "preset file " + name + " line " + std::to_string(number)
                              + ": empty key");
        entries.emplace_back(key, value);
    }
    return entries;
}

PresetEntries readPresetFile(const std::string &path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        throw zmconv::ConvError(zmconv::Failure::Input, "cannot read preset file " + path + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        throw zmconv::ConvError(zmconv::Failure::Input, "cannot read preset file " + path + ": not a regular file");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw zmconv::ConvError(zmconv::Failure::Input, "cannot read preset file " + path + ": " + std::strerror(errno));
    std::string text(static_cast<size_t>(kMaxPresetBytes) + 1, '\0');
    in.read(text.data(), kMaxPresetBytes + 1);
    if (in.bad())
        throw zmconv::ConvError(zmconv::Failure::Input, "cannot read preset file " + path + ": read error");
    text.resize(static_cast<size_t>(in.gcount()));
    if (static_cast<std::streamsize>(text.size()) > kMaxPresetBytes)
        throw zmconv::ConvError(zmconv::Failure::Input, "preset file " + path + " is too large");
    if (text.find('\0') != std::string::npos)
        throw zmconv::ConvError(zmconv::Failure::Input, "preset file " + path + " is not a text file");
    return parsePreset(text, path);
}

} // namespace vv
