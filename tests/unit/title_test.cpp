#include <gtest/gtest.h>

#include <string>

#include "window_system/title.h"

namespace {

constexpr TitleAtoms Atoms{31, 300, 301};
constexpr std::uint32_t Cardinal = 6;

std::string Decode(std::uint32_t type, const std::string& bytes, std::size_t limit = 128, bool truncated = false,
                   std::uint8_t format = 8)
{
    std::string out(limit + 16, '#');
    const TitleProperty property{type, format, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                                 truncated};
    const std::size_t written = DecodeTitle(property, Atoms, out.data(), limit);
    EXPECT_LT(written, limit);
    EXPECT_EQ(out[written], '\0');
    EXPECT_EQ(out.find('#'), written + 1) << "wrote past the terminator";
    return out.substr(0, written);
}

TEST(TitleDecoding, Utf8IsKeptAndCutOnACharacterBoundary)
{
    EXPECT_EQ(Decode(Atoms.utf8String, "n\xc3\xa9 \xe2\x9c\x93"), "n\xc3\xa9 \xe2\x9c\x93");
    const std::string accents = std::string(125, 'a') + "\xe2\x9c\x93"; // 128 bytes, the last 3 one character
    EXPECT_EQ(Decode(Atoms.utf8String, accents), std::string(125, 'a'));
    EXPECT_EQ(Decode(Atoms.utf8String, std::string(127, 'a')), std::string(127, 'a'));
    // The fetch itself may end inside a character.
    EXPECT_EQ(Decode(Atoms.utf8String, "ab\xe2\x9c", 128, true), "ab");
}

TEST(TitleDecoding, InvalidUtf8IsPassedOnByteForByte)
{
    const std::string invalid = "\xff\xfe \x80\x80 \xc3";
    EXPECT_EQ(Decode(Atoms.utf8String, invalid), invalid);
    const std::string control = "\x1b[31mred\x07\t";
    EXPECT_EQ(Decode(Atoms.utf8String, control), control);
}

TEST(TitleDecoding, Latin1BecomesUtf8)
{
    EXPECT_EQ(Decode(Atoms.string, "Caf\xe9 na\xefve"), "Caf\xc3\xa9 na\xc3\xafve");
    // 126 ASCII bytes then an 'é' needing two: only 127 bytes fit.
    EXPECT_EQ(Decode(Atoms.string, std::string(126, 'a') + "\xe9"), std::string(126, 'a'));
}

TEST(TitleDecoding, CompoundTextIsDecodedWhereUnderstood)
{
    EXPECT_EQ(Decode(Atoms.compoundText, "plain \xe9"), "plain \xc3\xa9");
    // GB 2312 in the right half, then back to Latin-1.
    EXPECT_EQ(Decode(Atoms.compoundText, "a\x1b$)A\xc4\xe3\xba\xc3\x1b-Ab\xe9"), "a??b\xc3\xa9");
    // Embedded UTF-8.
    EXPECT_EQ(Decode(Atoms.compoundText, "\x1b%G\xe2\x9c\x93\x1b%@ok"), "\xe2\x9c\x93ok");
    // A cut-off escape sequence or control sequence ends the text quietly.
    EXPECT_EQ(Decode(Atoms.compoundText, "ok\x1b$"), "ok");
    EXPECT_EQ(Decode(Atoms.compoundText,
                     "ok\x9b"
                     "1"),
              "ok");
}

TEST(TitleDecoding, UnexpectedTypeOrFormatGivesTheEmptyString)
{
    EXPECT_EQ(Decode(Cardinal, "title"), "");
    EXPECT_EQ(Decode(Atoms.string, "titl", 128, false, 16), "");
    EXPECT_EQ(Decode(Atoms.utf8String, "titl", 128, false, 32), "");
    EXPECT_EQ(Decode(Atoms.utf8String, ""), "");
}

TEST(TitleDecoding, TinyBuffersAreRespected)
{
    EXPECT_EQ(Decode(Atoms.utf8String, "title", 1), "");
    EXPECT_EQ(Decode(Atoms.string, "\xe9", 2), "");
    char untouched = '#';
    const TitleProperty property{Atoms.string, 8, reinterpret_cast<const std::uint8_t*>("x"), 1, false};
    EXPECT_EQ(DecodeTitle(property, Atoms, &untouched, 0), 0U);
    EXPECT_EQ(untouched, '#');
}

TEST(TitleDecoding, FetchAsksForWhatTheBufferCanHold)
{
    EXPECT_EQ(TitleFetchUnits(128), 32U); // 127 bytes
    EXPECT_EQ(TitleFetchUnits(5), 1U);
    EXPECT_EQ(TitleFetchUnits(1), 0U);
    EXPECT_EQ(TitleFetchUnits(0), 0U);
}

TEST(VisibleTitle, ControlsAreWrittenVisiblyOnATerminal)
{
    // At the start, in the middle and at the end; a C1 control as UTF-8 writes it.
    EXPECT_EQ(VisibleTitle("\x1b]52;c;QQ==\x07 bell\x7f", true), "\\x1b]52;c;QQ==\\x07 bell\\x7f");
    EXPECT_EQ(VisibleTitle("CSI \xc2\x9b"
                           "2J and \xc2\xa0 (no-break space)",
                           true),
              "CSI \\xc2\\x9b"
              "2J and \xc2\xa0 (no-break space)");
    // Invalid UTF-8, a lone byte 0x9b among it, and backslashes are left as they are.
    EXPECT_EQ(VisibleTitle("\xff\x9b\xc2 C:\\dir 100%", true), "\xff\x9b\xc2 C:\\dir 100%");
    // In a Windows code page 0x80 to 0x9f are letters (0x80 is the euro sign in 1252); in a
    // single-byte locale they are the C1 controls themselves, whatever byte comes before.
    EXPECT_EQ(VisibleTitle("\xc2\x80 \x80", true, Charset::Letters), "\xc2\x80 \x80");
    EXPECT_EQ(VisibleTitle("\xc2\x9b"
                           "2J \xe9\xa0",
                           true, CharsetOf(28591)),
              "\xc2\\x9b"
              "2J \xe9\xa0");
    EXPECT_EQ(CharsetOf(1252), Charset::Letters);
    EXPECT_EQ(CharsetOf(65001), Charset::Utf8);
}

TEST(VisibleTitle, ThroughAPipeOnlyLineEndsAreEscaped)
{
    EXPECT_EQ(VisibleTitle("one\ntwo\r\x1b[0m\xc2\x9b", false), "one\\x0atwo\\x0d\x1b[0m\xc2\x9b");
    EXPECT_EQ(VisibleTitle("", false), "");
    EXPECT_EQ(QuotedTitle("a\tb"), "\"a\\x09b\"");
}

TEST(VisibleTitle, ShownAsItIsExactlyWhereNothingIsEscaped)
{
    for (const char* title : {"plain", "", "one\ntwo", "cr\r", "\x1b[0m", "del\x7f", "C1 \xc2\x9b", "nbsp \xc2\xa0",
                              "\xc2", "\x80 euro", "tab\t"})
        for (const bool terminal : {false, true})
            for (const Charset charset : {Charset::Utf8, Charset::Letters, Charset::C1Controls})
                EXPECT_EQ(ShownAsItIs(title, terminal, charset), VisibleTitle(title, terminal, charset) == title)
                    << title << " terminal " << terminal << " charset " << static_cast<int>(charset);
}

} // namespace
