#include <string>
#include <vector>

#include "run_topleft.h"

namespace {

std::string ListingOf(const std::vector<std::string>& titles)
{
    std::string listing;
    for (std::size_t i = 0; i < titles.size(); ++i)
        listing += "Window[" + std::to_string(i) + "]: " + titles[i] + "\n";
    return listing;
}

std::string ListingAfter(const std::string& typed = "0\n") { return RunTopleft(typed).out; }

using Catalogue = FreshProcess;

TEST_F(Catalogue, UntitledWindowsAreSkippedAndConsumeNoNumber)
{
    ScriptedDesktop::Open("");
    const HWND editor = ScriptedDesktop::Open("Editor");
    ScriptedDesktop::Open("");
    ScriptedDesktop::Open("");
    const HWND terminal = ScriptedDesktop::Open("Terminal");
    const HWND clock = ScriptedDesktop::Open("Clock");
    ScriptedDesktop::Open("");

    EXPECT_EQ(ListingAfter(), ListingOf({"Editor", "Terminal", "Clock"}) + "Select window : ");
    EXPECT_EQ(WindowCatalogue, (std::list<HWND>{editor, terminal, clock}));
    EXPECT_EQ(ListedWindowCount, 3);
}

TEST_F(Catalogue, TitlesAreCutTo127Bytes)
{
    const std::string exact(127, 'a');
    ScriptedDesktop::Open(exact);
    ScriptedDesktop::Open(std::string(128, 'b'));
    ScriptedDesktop::Open(std::string(100000, 'c'));

    EXPECT_EQ(ListingAfter(), ListingOf({exact, std::string(127, 'b'), std::string(127, 'c')}) + "Select window : ");
}

TEST_F(Catalogue, DuplicatesAreEachListedAndStored)
{
    const HWND first = ScriptedDesktop::Open("Untitled - Notes");
    const HWND second = ScriptedDesktop::Open("Untitled - Notes");

    EXPECT_EQ(ListingAfter(), ListingOf({"Untitled - Notes", "Untitled - Notes"}) + "Select window : ");
    EXPECT_EQ(WindowCatalogue, (std::list<HWND>{first, second}));
}

TEST_F(Catalogue, TitlesArePrintedByteForByteNeverAsAFormat)
{
    const std::string hostile = "100% done %s %n %d %%";
    const std::string utf8 = "caf\xc3\xa9 \xe2\x9c\x93";
    ScriptedDesktop::Open(hostile);
    ScriptedDesktop::Open(utf8);
    // A zero byte ends the title as the C string it is delivered as.
    ScriptedDesktop::Open(std::string("before\0after", 12));

    EXPECT_EQ(ListingAfter(), ListingOf({hostile, utf8, "before"}) + "Select window : ");
}

TEST_F(Catalogue, EmptyDesktopListsNothing)
{
    ScriptedDesktop::Open("");
    EXPECT_EQ(ListingAfter(), "Select window : ");
    EXPECT_TRUE(WindowCatalogue.empty());
    EXPECT_EQ(ListedWindowCount, 0);
}

TEST_F(Catalogue, ThousandsOfWindowsAreNumberedWithoutGaps)
{
    std::vector<std::string> titles;
    for (int i = 0; i < 5000; ++i) {
        if (i % 7 == 3)
            ScriptedDesktop::Open("");
        titles.push_back("window " + std::to_string(i));
        ScriptedDesktop::Open(titles.back());
    }

    EXPECT_EQ(ListingAfter("4999\n"), ListingOf(titles) + "Select window : ");
    ASSERT_EQ(WindowCatalogue.size(), 5000U);
    EXPECT_EQ(ScriptedDesktop::Find(WindowCatalogue.back())->title, "window 4999");
    EXPECT_EQ(ScriptedDesktop::Calls().back().window, WindowCatalogue.back());
}

TEST_F(Catalogue, WindowThatClosesDuringTheWalkIsNotListed)
{
    static HWND doomed;
    ScriptedDesktop::Open("First");
    doomed = ScriptedDesktop::Open("Closes while listed");
    const HWND last = ScriptedDesktop::Open("Last");
    ScriptedDesktop::DuringEnumeration(1, [] { ScriptedDesktop::Close(doomed); });

    EXPECT_EQ(ListingAfter("1\n"), ListingOf({"First", "Last"}) + "Select window : ");
    EXPECT_EQ(ScriptedDesktop::Calls().back().window, last);
}

TEST_F(Catalogue, CallbackContinuesTheWalkWhateverTheWindow)
{
    const HWND gone = ScriptedDesktop::Open("gone");
    ScriptedDesktop::Close(gone);
    testing::internal::CaptureStdout();
    EXPECT_EQ(CatalogueWindowProc(gone, 12345), TRUE);
    EXPECT_EQ(CatalogueWindowProc(ScriptedDesktop::Open("here"), 0), TRUE);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Window[0]: here\n");
    EXPECT_EQ(WindowCatalogue.size(), 1U);
}

} // namespace
