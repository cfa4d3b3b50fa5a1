// Title decoding: bounded at every step by the caller's limit, whatever the property holds.
#include "window_system/title.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

void AppendLatin1(std::string& text, std::uint8_t byte)
{
    if (byte < 0x80) {
        text.push_back(static_cast<char>(byte));
    } else {
        text.push_back(static_cast<char>(0xC0 | (byte >> 6)));
        text.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
}

// Compound text is ISO 2022: escape sequences choose the character sets of the left (GL) and
// right (GR) halves, and ESC % G ... ESC % @ embeds UTF-8. ASCII and Latin-1 are decoded; a
// character of any other set becomes '?'.
void DecodeCompoundText(const std::uint8_t* bytes, std::size_t length, std::size_t enough, std::string& text)
{
    int glWidth = 0; // 0: ASCII, otherwise bytes per character of a foreign set
    int grWidth = 0; // 0: Latin-1
    bool utf8 = false;
    int pending = 0; // bytes still owed to the current foreign character
    std::size_t i = 0;
    while (i < length && text.size() < enough) {
        const std::uint8_t byte = bytes[i];
        if (byte == 0x1B) {
            std::size_t end = i + 1;
            while (end < length && bytes[end] >= 0x20 && bytes[end] <= 0x2F)
                ++end;
            if (end >= length)
                break;
            const std::uint8_t* intermediate = bytes + i + 1;
            const std::size_t count = end - i - 1;
            const std::uint8_t final = bytes[end];
            i = end + 1;
            pending = 0;
            if (count == 1 && intermediate[0] == '%') {
                utf8 = final == 'G';
                continue;
            }
            if (utf8 || count == 0)
                continue;
            const bool multiByte = intermediate[0] == '$';
            const std::uint8_t designator = intermediate[count - 1];
            const bool left = designator == '(' || (multiByte && count == 1);
            if (left)
                glWidth = (!multiByte && final == 'B') ? 0 : (multiByte ? 2 : 1);
            else
                grWidth = (!multiByte && designator == '-' && final == 'A') ? 0 : (multiByte ? 2 : 1);
            continue;
        }
        ++i;
        if (utf8 || byte < 0x20 || byte == 0x7F) {
            text.push_back(static_cast<char>(byte));
            continue;
        }
        if (byte == 0x9B) { // control sequence (text direction): parameters up to a final byte
            while (i < length && !(bytes[i] >= 0x40 && bytes[i] <= 0x7E))
                ++i;
            i += i < length;
            continue;
        }
        const int width = byte < 0x80 ? glWidth : grWidth;
        if (width == 0) {
            AppendLatin1(text, byte);
        } else if (byte >= 0xA0 || byte < 0x80) {
            if (pending == 0) {
                text.push_back('?');
                pending = width;
            }
            --pending;
        }
    }
}

std::size_t SequenceLength(std::uint8_t lead)
{
    if (lead >= 0xF0 && lead <= 0xF7)
        return 4;
    if (lead >= 0xE0)
        return lead <= 0xEF ? 3 : 0;
    if (lead >= 0xC0)
        return 2;
    return 0;
}

// The length of text cut to at most `room` bytes. Where anything was cut away, a multi-byte
// character left incomplete at the end goes too; an untouched title is never altered.
std::size_t CutLength(const std::string& text, std::size_t room, bool truncated)
{
    std::size_t cut = text.size();
    if (cut > room) {
        cut = room;
        truncated = true;
    }
    if (!truncated)
        return cut;
    for (std::size_t back = 1; back <= 4 && back <= cut; ++back) {
        const auto byte = static_cast<std::uint8_t>(text[cut - back]);
        if ((byte & 0xC0) == 0x80)
            continue;
        const std::size_t needed = SequenceLength(byte);
        if (needed > back)
            return cut - back;
        break;
    }
    return cut;
}

} // namespace

std::size_t DecodeTitle(const TitleProperty& property, const TitleAtoms& atoms, char* out, std::size_t limit)
{
    if (limit == 0)
        return 0;
    out[0] = '\0';
    if (property.format != 8 || !property.bytes)
        return 0;

    // Decoding a few bytes past the room is enough to know where to cut.
    const std::size_t room = limit - 1;
    const std::size_t enough = room + 4;
    const std::size_t length = property.length;
    // Most titles are whole and fit: UTF-8 as it is, or Latin-1 that is all ASCII.
    if (!property.truncated && length <= room &&
        (property.type == atoms.utf8String ||
         (property.type == atoms.string &&
          std::all_of(property.bytes, property.bytes + length, [](std::uint8_t byte) { return byte < 0x80; })))) {
        std::memcpy(out, property.bytes, length);
        out[length] = '\0';
        return length;
    }
    std::string text;
    if (property.type == atoms.utf8String) {
        text.assign(reinterpret_cast<const char*>(property.bytes), length < enough ? length : enough);
    } else if (property.type == atoms.string) {
        for (std::size_t i = 0; i < length && text.size() < enough; ++i)
            AppendLatin1(text, property.bytes[i]);
    } else if (property.type == atoms.compoundText) {
        DecodeCompoundText(property.bytes, length, enough, text);
    } else {
        return 0;
    }

    const std::size_t written = CutLength(text, room, property.truncated);
    std::memcpy(out, text.data(), written);
    out[written] = '\0';
    return written;
}

std::size_t CopyUtf8Title(const char* text, std::size_t length, char* out, std::size_t limit)
{
    if (limit == 0)
        return 0;
    const void* zero = std::memchr(text, '\0', length);
    const std::size_t end = zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - text) : length;
    const std::string head(text, end < limit + 4 ? end : limit + 4);
    const std::size_t written = CutLength(head, limit - 1, end > head.size());
    std::memcpy(out, head.data(), written);
    out[written] = '\0';
    return written;
}

namespace {

// The length of the valid UTF-8 character at the start of text, or 0: no overlong forms, no
// surrogates, nothing past U+10FFFF.
std::size_t CharacterLength(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    const std::size_t length = lead < 0x80 ? 1
        : lead >= 0xC2 && lead <= 0xDF     ? 2
        : lead >= 0xE0 && lead <= 0xEF     ? 3
        : lead >= 0xF0 && lead <= 0xF4     ? 4
                                           : 0;
    if (length == 0 || length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
    const unsigned char second = length > 1 ? byte(1) : 0x80;
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
        (lead == 0xF4 && second > 0x8F))
        return 0;
    return length;
}

} // namespace

std::string Utf8Text(std::string_view text)
{
    std::string valid;
    valid.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (const std::size_t length = CharacterLength(text.substr(i))) {
            valid.append(text.substr(i, length));
            i += length;
        } else {
            AppendLatin1(valid, static_cast<std::uint8_t>(text[i++]));
        }
    }
    return valid;
}

Charset CharsetOf(unsigned codePage)
{
    constexpr unsigned Utf8 = 65001, UsAscii = 20127, Iso8859First = 28591, Iso8859Last = 28605;
    if (codePage == Utf8)
        return Charset::Utf8;
    if (codePage == UsAscii || (codePage >= Iso8859First && codePage <= Iso8859Last))
        return Charset::C1Controls;
    return Charset::Letters;
}

namespace {

// How many bytes from c on are written escaped: 0, or those of one control character.
int ControlLength(const char* c, bool terminal, Charset charset)
{
    const auto byte = static_cast<unsigned char>(c[0]);
    const auto next = static_cast<unsigned char>(c[1]);
    if (byte == '\n' || byte == '\r' || (terminal && (byte < 0x20 || byte == 0x7F)))
        return 1;
    if (terminal && charset == Charset::Utf8 && byte == 0xC2 && next >= 0x80 && next <= 0x9F)
        return 2;
    if (terminal && charset == Charset::C1Controls && byte >= 0x80 && byte <= 0x9F)
        return 1;
    return 0;
}

} // namespace

bool ShownAsItIs(const char* title, bool terminal, Charset charset)
{
    if (!terminal)
        return !std::strpbrk(title, "\n\r");
    for (const char* c = title; *c; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if ((byte < 0x20 || byte == 0x7F || byte >= 0x80) && ControlLength(c, terminal, charset))
            return false;
    }
    return true;
}

std::string VisibleTitle(const char* title, bool terminal, Charset charset)
{
    std::string visible;
    for (const char* c = title; *c; ++c) {
        const int control = ControlLength(c, terminal, charset);
        if (!control)
            visible.push_back(*c);
        for (int i = 0; i < control; ++i) {
            constexpr char Digits[] = "0123456789abcdef";
            const auto byte = static_cast<unsigned char>(*c);
            visible += {'\\', 'x', Digits[byte >> 4], Digits[byte & 0xF]};
            c += i + 1 < control;
        }
    }
    return visible;
}

std::string QuotedTitle(const char* title, Charset charset)
{
    std::string quoted = "\"";
    quoted += VisibleTitle(title, true, charset);
    quoted += '"';
    return quoted;
}

int WindowText(const std::string* title, char* out, int limit)
{
    if (!out || limit <= 0)
        return 0;
    out[0] = '\0';
    if (!title)
        return 0;
    return static_cast<int>(CopyUtf8Title(title->data(), title->size(), out, static_cast<std::size_t>(limit)));
}

std::uint32_t TitleFetchUnits(std::size_t limit)
{
    // limit-1 bytes of UTF-8 or Latin-1 need at most limit-1 bytes of the property.
    const std::size_t bytes = limit > 0 ? limit - 1 : 0;
    const std::size_t units = (bytes + 3) / 4;
    return units > 0x3FFFFFFF ? 0x3FFFFFFF : static_cast<std::uint32_t>(units);
}
