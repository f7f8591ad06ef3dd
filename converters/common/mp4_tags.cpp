#include "common/mp4_tags.h"
#include "common/errors.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

namespace zmconv {

namespace {

[[noreturn]] void refuse(const std::string& why)
{
    throw ConvError(Failure::Codec, "cannot add the tags to the M4A file: " + why);
}

uint32_t be32(const std::string& s, size_t at)
{
    return (uint32_t(uint8_t(s[at])) << 24) | (uint32_t(uint8_t(s[at + 1])) << 16)
           | (uint32_t(uint8_t(s[at + 2])) << 8) | uint32_t(uint8_t(s[at + 3]));
}

std::string put32(uint32_t v)
{
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

std::string box(std::string_view type, const std::string& body)
{
    if (body.size() > UINT32_MAX - 8)
        refuse("a box too large");
    return put32(static_cast<uint32_t>(body.size() + 8)) + std::string(type) + body;
}

// A child box inside a box's body: where it starts and how long it is.
struct Child {
    size_t at;
    size_t size;
    std::string type;
};

std::vector<Child> children(const std::string& body, size_t from)
{
    std::vector<Child> out;
    size_t at = from;
    while (at + 8 <= body.size()) {
        const size_t size = be32(body, at);
        if (size < 8 || at + size > body.size())
            refuse("a damaged movie box");
        out.push_back({at, size, body.substr(at + 4, 4)});
        at += size;
    }
    if (at != body.size())
        refuse("a damaged movie box");
    return out;
}

std::optional<Child> find(const std::vector<Child>& list, std::string_view type)
{
    for (const Child& c : list)
        if (c.type == type)
            return c;
    return std::nullopt;
}

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// The name of a freeform item ("----" box body), or "" when it has none.
std::string freeform_name(const std::string& item)
{
    for (const Child& c : children(item, 8))
        if (c.type == "name" && c.size >= 12)
            return item.substr(c.at + 12, c.size - 12);
    return {};
}

std::string freeform_item(const std::string& name, const std::string& value)
{
    const std::string version(4, '\0');
    return box("----", box("mean", version + "com.apple.iTunes") + box("name", version + name)
                           + box("data", put32(1) + put32(0) + value));
}

std::string new_item_list(const std::string& ilst, const Mp4Tags& tags)
{
    // The items kept (all but freeform ones of the same names), then the new ones.
    std::string body;
    if (!ilst.empty())
        for (const Child& c : children(ilst, 8)) {
            const std::string item = ilst.substr(c.at, c.size);
            bool replaced = false;
            if (c.type == "----") {
                const std::string name = lower(freeform_name(item));
                for (const auto& [key, value] : tags)
                    replaced = replaced || lower(key) == name;
            }
            if (!replaced)
                body += item;
        }
    for (const auto& [key, value] : tags)
        body += freeform_item(key, value);
    return box("ilst", body);
}

// Replaces the child at c (or appends one when c is empty) in a box, fixing the box's size.
std::string with_child(const std::string& parent, const std::optional<Child>& c,
                       const std::string& child)
{
    std::string out =
        c ? parent.substr(0, c->at) + child + parent.substr(c->at + c->size) : parent + child;
    if (out.size() > UINT32_MAX)
        refuse("a box too large");
    const std::string size = put32(static_cast<uint32_t>(out.size()));
    out.replace(0, 4, size);
    return out;
}

std::string slice(const std::string& s, const Child& c)
{
    return s.substr(c.at, c.size);
}

} // namespace

std::string movie_box_with_tags(const std::string& moov, const Mp4Tags& tags)
{
    if (moov.size() < 8 || moov.compare(4, 4, "moov") != 0 || be32(moov, 0) != moov.size())
        refuse("no movie box");
    const auto udta_at = find(children(moov, 8), "udta");
    const std::string udta = udta_at ? slice(moov, *udta_at) : box("udta", "");
    const auto meta_at = find(children(udta, 8), "meta");
    // meta is a full box: version and flags come before its children.
    static const std::string kHandler =
        box("hdlr", std::string(8, '\0') + "mdir" + "appl" + std::string(9, '\0'));
    const std::string meta =
        meta_at ? slice(udta, *meta_at) : box("meta", std::string(4, '\0') + kHandler);
    if (meta.size() < 12)
        refuse("a damaged metadata box");
    const auto ilst_at = find(children(meta, 12), "ilst");
    const std::string ilst = ilst_at ? slice(meta, *ilst_at) : std::string();
    const std::string new_meta = with_child(meta, ilst_at, new_item_list(ilst, tags));
    const std::string new_udta = with_child(udta, meta_at, new_meta);
    return with_child(moov, udta_at, new_udta);
}

void add_mp4_freeform_tags(int fd, const Mp4Tags& tags)
{
    struct stat st {};
    if (fstat(fd, &st) != 0)
        refuse(std::strerror(errno));
    const auto file_size = static_cast<uint64_t>(st.st_size);
    auto read_at = [fd](uint64_t at, size_t n) {
        std::string s(n, '\0');
        size_t done = 0;
        while (done < n) {
            const ssize_t got = pread(fd, s.data() + done, n - done, static_cast<off_t>(at + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                refuse(got < 0 ? std::strerror(errno) : "the file ends early");
            done += static_cast<size_t>(got);
        }
        return s;
    };
    // The top-level boxes, to the movie box.
    uint64_t at = 0;
    std::optional<uint64_t> moov_at;
    uint64_t moov_size = 0;
    while (at + 8 <= file_size) {
        const std::string head = read_at(at, 8);
        uint64_t size = be32(head, 0);
        if (size == 1)
            size = (uint64_t(be32(read_at(at + 8, 8), 0)) << 32) | be32(read_at(at + 12, 4), 0);
        else if (size == 0)
            size = file_size - at;
        if (size < 8 || at + size > file_size)
            refuse("a damaged file");
        if (head.compare(4, 4, "moov") == 0) {
            moov_at = at;
            moov_size = size;
        }
        at += size;
    }
    if (!moov_at)
        refuse("no movie box");
    if (*moov_at + moov_size != file_size)
        refuse("the movie box is not at the end");
    if (moov_size > (64u << 20))
        refuse("a movie box too large");
    const std::string moov = movie_box_with_tags(read_at(*moov_at, moov_size), tags);
    size_t done = 0;
    while (done < moov.size()) {
        const ssize_t put =
            pwrite(fd, moov.data() + done, moov.size() - done, static_cast<off_t>(*moov_at + done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            throw ConvError(Failure::Codec, std::string("cannot write the output file: ")
                                                + std::strerror(put < 0 ? errno : ENOSPC));
        done += static_cast<size_t>(put);
    }
    if (ftruncate(fd, static_cast<off_t>(*moov_at + moov.size())) != 0)
        throw ConvError(Failure::Codec,
                        std::string("cannot write the output file: ") + std::strerror(errno));
}

} // namespace zmconv
