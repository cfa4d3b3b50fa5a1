// Title decoding: turns a fetched X11 WM_NAME or _NET_WM_NAME property, or a compositor's UTF-8
// title, into UTF-8 text in a caller's buffer. Kept apart from any connection so it can be tested
// and fuzzed on its own: its input comes from other programs and is untrusted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct TitleProperty {
    std::uint32_t type; // the property's type atom, compared with the atoms below
    std::uint8_t format;
    const std::uint8_t* bytes;
    std::size_t length;
    bool truncated; // the property has more bytes than were fetched
};

struct TitleAtoms {
    std::uint32_t string, utf8String, compoundText;
};

// Writes the decoded title into out: at most limit-1 bytes, never splitting a UTF-8 character
// where the text was cut, always zero-terminated (for limit > 0). STRING is Latin-1, UTF8_STRING
// is copied as it is, COMPOUND_TEXT is decoded as far as it is understood; any other type or a
// format other than 8 gives the empty string. Returns the number of bytes written.
std::size_t DecodeTitle(const TitleProperty& property, const TitleAtoms& atoms, char* out, std::size_t limit);

// Copies a UTF-8 title into out the same way: at most limit-1 bytes, never ending inside a
// character where it was cut, always zero-terminated (for limit > 0), up to any embedded zero.
std::size_t CopyUtf8Title(const char* text, std::size_t length, char* out, std::size_t limit);

// Text from another program made UTF-8: each byte of no valid UTF-8 character read as Latin-1,
// as X11's STRING titles are read.
std::string Utf8Text(std::string_view text);

// How a terminal takes the bytes of a title that are not ASCII.
enum class Charset {
    Utf8, // the C1 controls are the characters U+0080 to U+009F, two bytes each
    Letters, // a Windows code page (1252, 437, ...): the bytes 0x80 to 0x9F are letters
    C1Controls, // a single-byte locale (ISO 8859, ASCII): the bytes 0x80 to 0x9F are controls
};

// The charset of a code page as GetConsoleOutputCP gives it: UTF-8, ISO 8859's code pages and
// US-ASCII as they are, any other a Windows code page.
Charset CharsetOf(unsigned codePage);

// A title as it is written for a person. Through a pipe or into a file, as it is but for line
// ends (LF, CR), which would split its line in two and could forge another: those are written as
// \x0a and \x0d. On a terminal, every byte of a character the terminal would take as a control is
// written so: the C0 controls, DEL, and the C1 controls as the terminal's charset has them (in
// UTF-8 \xc2\x9b for CSI; on a single-byte locale \x9b). Anything else, invalid UTF-8 and
// backslashes included, is written as it is.
std::string VisibleTitle(const char* title, bool terminal, Charset charset = Charset::Utf8);

// Whether VisibleTitle would write the title as it is.
bool ShownAsItIs(const char* title, bool terminal, Charset charset = Charset::Utf8);

// A title as a message shows it: in double quotes, written as for a terminal.
std::string QuotedTitle(const char* title, Charset charset = Charset::Utf8);

// GetWindowTextA's contract for a backend that holds titles as UTF-8 text: the title cut by
// CopyUtf8Title into out; the empty string for no title (nullptr) or no room. Returns its length.
int WindowText(const std::string* title, char* out, int limit);

// How many 32-bit units of a property to ask for, to fill a buffer of `limit` bytes.
std::uint32_t TitleFetchUnits(std::size_t limit);
