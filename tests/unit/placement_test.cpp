#include <string>
#include <vector>

#include "run_topleft.h"

namespace {

class Placement : public FreshProcess {
protected:
    void SetUp() override
    {
        FreshProcess::SetUp();
        windows.clear();
        for (int i = 0; i < 5; ++i)
            windows.push_back(ScriptedDesktop::Open("Window " + std::to_string(i), 40 + i, 80 + i, 300 + i, 200 + i));
    }

    // The run moved windows[k] and only it, with exactly the arguments of a top-left move.
    void ExpectMoved(const TopleftRun& run, int k)
    {
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        ASSERT_EQ(ScriptedDesktop::Calls().size(), 1U);
        const SetWindowPosCall& call = ScriptedDesktop::Calls()[0];
        EXPECT_EQ(call.window, windows[k]);
        EXPECT_EQ(call.insertAfter, HWND_TOP);
        EXPECT_EQ(call.x, 0);
        EXPECT_EQ(call.y, 0);
        EXPECT_EQ(call.cx, 0);
        EXPECT_EQ(call.cy, 0);
        EXPECT_EQ(call.flags, SWP_NOSIZE);

        const ScriptedWindow* moved = ScriptedDesktop::Find(windows[k]);
        EXPECT_EQ(moved->x, 0);
        EXPECT_EQ(moved->y, 0);
        EXPECT_EQ(moved->width, 300 + k);
        EXPECT_EQ(moved->height, 200 + k);
        EXPECT_EQ(ScriptedDesktop::StackingOrder().front(), windows[k]);
    }

    void ExpectRefused(const TopleftRun& run, const std::string& message)
    {
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, message + "\n");
        EXPECT_TRUE(ScriptedDesktop::Calls().empty());
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(ScriptedDesktop::Find(windows[i])->x, 40 + i);
        EXPECT_EQ(ScriptedDesktop::StackingOrder(), windows);
    }

    std::vector<HWND> windows;
};

TEST_F(Placement, PromptFollowsTheListingWithNoLineEnd)
{
    const TopleftRun run = RunTopleft("2\n");
    EXPECT_TRUE(run.out.ends_with("Window[4]: Window 4\nSelect window : "));
}

TEST_F(Placement, NumberSelectsTheWindowListedWithIt) { ExpectMoved(RunTopleft("2\n"), 2); }

TEST_F(Placement, LastListedWindowCanBeChosen) { ExpectMoved(RunTopleft("4"), 4); }

TEST_F(Placement, BlanksLineEndsAndAPlusSignAreAccepted)
{
    for (const char* typed : {"  \n\t 3\n", "+3\n", "\n\n  +3"}) {
        SetUp();
        SCOPED_TRACE(typed);
        ExpectMoved(RunTopleft(typed), 3);
    }
}

TEST_F(Placement, ZeroAndEveryNegativeNumberSelectTheFirstWindow)
{
    for (const char* typed : {"0\n", "-0", "-1\n", "-2147483648", "-2147483649", "-99999999999999999999999999"}) {
        SetUp();
        SCOPED_TRACE(typed);
        ExpectMoved(RunTopleft(typed), 0);
    }
}

TEST_F(Placement, ReadingStopsAtTheFirstCharacterThatIsNotADigit)
{
    const TopleftRun run = RunTopleft("1abc\nmore");
    ExpectMoved(run, 1);
    EXPECT_EQ(run.unread, "abc\nmore");

    SetUp();
    const TopleftRun spaced = RunTopleft(" 2 3\n");
    ExpectMoved(spaced, 2);
    EXPECT_EQ(spaced.unread, " 3\n");
}

TEST_F(Placement, NumberNamingNoListedWindowMovesNothing)
{
    // 4294967298 and 2147483648 are the numbers a wrapping conversion would turn into 2 and a
    // negative number, selecting a window nobody typed.
    for (const char* typed : {"5\n", "6", "2147483647", "2147483648", "4294967298", "99999999999999999999999999999"}) {
        SetUp();
        SCOPED_TRACE(typed);
        ExpectRefused(RunTopleft(typed), "No window is listed with that number.");
    }
}

TEST_F(Placement, InputWithoutANumberMovesNothing)
{
    for (const char* typed : {"", "\n", "   \n\t", "abc\n", "+", "-", "+-1", "- 1", "x2"}) {
        SetUp();
        SCOPED_TRACE(typed);
        ExpectRefused(RunTopleft(typed), "No number was read.");
    }
}

TEST_F(Placement, NoNumberSelectsAnythingOnAnEmptyDesktop)
{
    for (HWND window : windows)
        ScriptedDesktop::Close(window);
    windows.clear();
    for (const char* typed : {"0", "-1", "3"}) {
        WindowCatalogue.clear();
        ListedWindowCount = 0;
        SCOPED_TRACE(typed);
        const TopleftRun run = RunTopleft(typed);
        EXPECT_EQ(run.out, "Select window : ");
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "No window is listed with that number.\n");
        EXPECT_TRUE(ScriptedDesktop::Calls().empty());
    }
}

TEST_F(Placement, WindowClosedSinceTheListingIsReported)
{
    static HWND doomed;
    doomed = windows[3];
    // Close it after the whole walk, between listing and selection.
    ScriptedDesktop::DuringEnumeration(4, [] { ScriptedDesktop::Close(doomed); });
    const TopleftRun run = RunTopleft("3\n");

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "topleft: the window closed before it could be moved.\n");
    EXPECT_TRUE(ScriptedDesktop::Calls().empty());
    EXPECT_EQ(ScriptedDesktop::StackingOrder(), (std::vector<HWND>{windows[0], windows[1], windows[2], windows[4]}));
}

TEST_F(Placement, WindowClosingDuringTheMoveIsReported)
{
    ScriptedDesktop::CloseOnMove(windows[1]);
    const TopleftRun run = RunTopleft("1\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "topleft: the window closed before it could be moved.\n");
    EXPECT_EQ(ScriptedDesktop::Calls().size(), 1U);
}

// Every way a move can go wrong ends in exit status 1 and one line saying what happened.
TEST_F(Placement, MovesThatDidNotHappenAreReported)
{
    const struct {
        Response response;
        const char* message;
        std::size_t calls;
    } cases[] = {
        {Response::Refuses, "topleft: \"Window 2\" could not be moved: the window manager kept it where it was.\n", 1},
        {Response::Shifts, "topleft: \"Window 2\" is at (12, 40), not at the corner.\n", 1},
        {Response::Grows, "topleft: \"Window 2\" changed size from 302x202 to 302x222.\n", 1},
        {Response::StopsAnswering, "topleft: \"Window 2\" is not responding; it was not moved.\n", 0},
    };
    for (const auto& c : cases) {
        SetUp();
        SCOPED_TRACE(c.message);
        ScriptedDesktop::SetResponse(windows[2], c.response);
        const TopleftRun run = RunTopleft("2\n");
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, c.message);
        EXPECT_EQ(ScriptedDesktop::Calls().size(), c.calls);
        for (int i = 0; i < 5; ++i) {
            if (i != 2) {
                EXPECT_EQ(ScriptedDesktop::Find(windows[i])->x, 40 + i);
            }
        }
    }
}

TEST_F(Placement, TitlesAreShownNeverObeyed)
{
    const HWND hostile = ScriptedDesktop::Open("Evil\n\x1b[2J\r%s \xc2\x9b title");
    ScriptedDesktop::SetResponse(hostile, Response::Refuses);
    // Through a pipe, byte for byte but for the line ends, which would forge a line of their own.
    TopleftRun run = RunTopleft("5\n");
    EXPECT_NE(run.out.find("Window[5]: Evil\\x0a\x1b[2J\\x0d%s \xc2\x9b title\nSelect"), std::string::npos) << run.out;
    // Messages, and the listing on a terminal: no control left to act.
    const std::string shown = "Evil\\x0a\\x1b[2J\\x0d%s \\xc2\\x9b title";
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "topleft: \"" + shown + "\" could not be moved: the window manager kept it where it was.\n");
    SetUp();
    ScriptedDesktop::SetTerminal(true);
    ScriptedDesktop::Open("Evil\n\x1b[2J\r%s \xc2\x9b title");
    run = RunTopleft("x");
    EXPECT_NE(run.out.find("\nWindow[5]: " + shown + "\nSelect window : "), std::string::npos) << run.out;
}

TEST(SelectionNumber, ConvertsEveryValueOfTheSigned32BitRange)
{
    for (const long long value : {0LL, 7LL, -7LL, 2147483647LL, -2147483648LL}) {
        std::FILE* input = InputOf(std::to_string(value));
        EXPECT_EQ(ReadSelectionNumber(input), value);
        std::fclose(input);
    }
}

TEST(SelectionNumber, OutOfRangeNeverWrapsIntoRange)
{
    for (const char* text : {"2147483648", "4294967296", "4294967298", "18446744073709551618", "-2147483649",
                             "-4294967296", "-18446744073709551615"}) {
        std::FILE* input = InputOf(text);
        const std::optional<std::int64_t> value = ReadSelectionNumber(input);
        std::fclose(input);
        ASSERT_TRUE(value.has_value()) << text;
        EXPECT_TRUE(*value > 2147483647LL || *value < -2147483648LL) << text;
        EXPECT_EQ(*value > 0, text[0] != '-') << text;
    }
}

TEST(SelectionNumber, EntryForEachSelection)
{
    EXPECT_EQ(CatalogueEntryFor(0, 3), 0);
    EXPECT_EQ(CatalogueEntryFor(2, 3), 2);
    EXPECT_EQ(CatalogueEntryFor(-5, 3), 0);
    EXPECT_EQ(CatalogueEntryFor(3, 3), std::nullopt);
    EXPECT_EQ(CatalogueEntryFor(0, 0), std::nullopt);
    EXPECT_EQ(CatalogueEntryFor(-1, 0), std::nullopt);
}

} // namespace
