#include "common/tag_patch.h"
#include "common/errors.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace zmconv {

namespace {

// Tags (with a cover picture) lie within the file's first bytes; the sound comes after them.
constexpr size_t kHeadBytes = 64u << 20;

std::array<uint32_t, 256> crc_table()
{
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = i << 24;
        for (int b = 0; b < 8; ++b)
            r = (r & 0x80000000u) ? (r << 1) ^ 0x04c11db7u : r << 1;
        t[i] = r;
    }
    return t;
}

// Puts the checksum of the Ogg page around byte `at` right, when the bytes there are one.
void fix_ogg_page(std::string& bytes, size_t at)
{
    const size_t start = bytes.rfind("OggS", at);
    if (start == std::string::npos || start + 27 > bytes.size())
        return;
    const auto* p = reinterpret_cast<unsigned char*>(bytes.data() + start);
    const size_t segments = p[26];
    if (start + 27 + segments > bytes.size())
        return;
    size_t size = 27 + segments;
    for (size_t i = 0; i < segments; ++i)
        size += p[27 + i];
    if (start + size > bytes.size() || at >= start + size)
        return;
    std::memset(bytes.data() + start + 22, 0, 4);
    const uint32_t crc = ogg_page_crc(reinterpret_cast<unsigned char*>(bytes.data() + start), size);
    for (int i = 0; i < 4; ++i)
        bytes[start + 22 + static_cast<size_t>(i)] = static_cast<char>((crc >> (8 * i)) & 0xff);
}

// ASCII text as UTF-16LE.
std::string utf16le(const std::string& ascii)
{
    std::string out;
    for (const char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

} // namespace

uint32_t ogg_page_crc(const unsigned char* page, size_t size)
{
    static const std::array<uint32_t, 256> table = crc_table();
    uint32_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        const unsigned char b = (i >= 22 && i < 26) ? 0 : page[i];
        crc = (crc << 8) ^ table[((crc >> 24) ^ b) & 0xff];
    }
    return crc;
}

bool patch_tags_in(std::string& bytes, const TagPatches& patches)
{
    for (const auto& [placeholder, value] : patches) {
        if (placeholder.size() != value.size())
            throw ConvError(Failure::Codec, "tag value \"" + value + "\" does not fit its place");
        size_t at = bytes.find(placeholder);
        if (at != std::string::npos) {
            bytes.replace(at, value.size(), value);
        } else {
            // ASF (WMA) keeps its tags in UTF-16LE.
            at = bytes.find(utf16le(placeholder));
            if (at == std::string::npos)
                return false;
            const std::string wide = utf16le(value);
            bytes.replace(at, wide.size(), wide);
        }
        if (bytes.compare(0, 4, "OggS") == 0)
            fix_ogg_page(bytes, at);
    }
    return true;
}

void patch_tags(int fd, const TagPatches& patches)
{
    if (patches.empty())
        return;
    const off_t end = lseek(fd, 0, SEEK_END);
    std::string head(std::min<size_t>(kHeadBytes, end > 0 ? static_cast<size_t>(end) : 0), '\0');
    size_t got = 0;
    while (got < head.size()) {
        const ssize_t n = pread(fd, head.data() + got, head.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw ConvError(Failure::Codec,
                            std::string("cannot read the output back: ") + std::strerror(errno));
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    head.resize(got);
    const std::string before = head;
    if (!patch_tags_in(head, patches))
        throw ConvError(Failure::Codec, "cannot find the place of the tags in the output");
    // Only the bytes that changed are written back.
    size_t from = 0;
    while (from < head.size() && head[from] == before[from])
        ++from;
    size_t to = head.size();
    while (to > from && head[to - 1] == before[to - 1])
        --to;
    size_t done = from;
    while (done < to) {
        const ssize_t n = pwrite(fd, head.data() + done, to - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw ConvError(Failure::Codec, std::string("cannot write the output file: ")
                                                + std::strerror(n < 0 ? errno : ENOSPC));
        done += static_cast<size_t>(n);
    }
}

} // namespace zmconv
