// Fuzzes the X11 title decoding with any property type, format, length and fetch limit.
// Input: type selector, format, limit, truncated flag, then the property's bytes.
// Checked on every input: the title fits the limit and is terminated; UTF-8 titles are a prefix
// of the property, cut only where a character starts; Latin-1 titles are valid UTF-8 that
// decodes back to the property's first characters.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "window_system/title.h"

namespace {

constexpr TitleAtoms Atoms{31, 300, 301};

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

// Decodes valid UTF-8 into code points; false for anything invalid.
bool DecodeUtf8(const std::string& text, std::vector<std::uint32_t>& points)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<std::uint8_t>(text[i]);
        std::size_t length = lead < 0x80 ? 1
            : (lead & 0xE0) == 0xC0      ? 2
            : (lead & 0xF0) == 0xE0      ? 3
            : (lead & 0xF8) == 0xF0      ? 4
                                         : 0;
        if (length == 0 || i + length > text.size())
            return false;
        std::uint32_t point = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<std::uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            point = point << 6 | (next & 0x3F);
        }
        points.push_back(point);
        i += length;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    const std::uint32_t types[] = {Atoms.string, Atoms.utf8String, Atoms.compoundText, 42};
    const std::uint32_t type = types[data[0] % 4];
    const std::uint8_t format = data[1];
    const std::size_t limit = data[2];
    const bool truncated = data[3] & 1;
    // The property's bytes in a buffer of their own size, so any read past them is caught.
    const std::vector<std::uint8_t> bytes(data + 4, data + size);
    const TitleProperty property{type, format, bytes.data(), bytes.size(), truncated};

    std::vector<char> out(limit); // exactly the caller's room: a write past it is caught
    const std::size_t written = DecodeTitle(property, Atoms, out.data(), limit);
    if (limit == 0) {
        Require(written == 0);
        return 0;
    }
    Require(written < limit);
    Require(out[written] == '\0');
    const std::string title(out.data(), written);
    if (format != 8 || type == 42) {
        Require(written == 0);
        return 0;
    }

    if (type == Atoms.utf8String) {
        Require(title.size() <= bytes.size());
        Require(title.empty() || std::memcmp(title.data(), bytes.data(), title.size()) == 0);
        const bool whole = title.size() == bytes.size() && !truncated;
        std::vector<std::uint32_t> points;
        const std::string source(bytes.begin(), bytes.end());
        if (!whole && DecodeUtf8(source, points)) {
            // A valid title that was cut still ends where a character ends.
            Require(title.size() == source.size() || (static_cast<std::uint8_t>(source[title.size()]) & 0xC0) != 0x80);
        }
    } else if (type == Atoms.string) {
        std::vector<std::uint32_t> points;
        Require(DecodeUtf8(title, points));
        Require(points.size() <= bytes.size());
        for (std::size_t i = 0; i < points.size(); ++i)
            Require(points[i] == bytes[i]);
        // Only the limit ends a Latin-1 title early: one more character would not have fitted.
        if (points.size() < bytes.size())
            Require(title.size() + (bytes[points.size()] < 0x80 ? 1 : 2) > limit - 1);
    }
    return 0;
}
