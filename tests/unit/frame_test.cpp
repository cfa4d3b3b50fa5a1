// The Windows frame between the core and the scripted desktop, as in the Windows build: the core's
// SetWindowPos and GetWindowRect are the frame's, which makes user32's calls on the model.
#include <string>

#include "run_topleft.h"

namespace {

class Frame : public FreshProcess {
protected:
    void SetUp() override
    {
        FreshProcess::SetUp();
        ScriptedDesktop::SetFrameBounds(true);
        other = ScriptedDesktop::Open("Other", 200, 100, 200, 100); // over the corner the chosen one goes to
        chosen = ScriptedDesktop::Open("Chosen", 100, 50, 300, 200);
        ScriptedDesktop::SetFrameInset(chosen, Windows10Border);
    }

    // The window listed with 1 is the chosen one: the other is above it.
    TopleftRun ChooseIt() { return RunTopleft("1\n"); }

    // An invisible resizing border left, right and bottom, as Windows 10 draws at 100%.
    static constexpr RECT Windows10Border{7, 0, 7, 7};
    HWND other = nullptr, chosen = nullptr;
};

TEST_F(Frame, VisibleFrameLandsAtTheCorner)
{
    const TopleftRun run = ChooseIt();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const ScriptedWindow* moved = ScriptedDesktop::Find(chosen);
    // The rectangle goes past the screen's edge by the invisible border; the size is kept.
    EXPECT_EQ(moved->x, -7);
    EXPECT_EQ(moved->y, 0);
    EXPECT_EQ(moved->width, 300);
    EXPECT_EQ(moved->height, 200);
    EXPECT_EQ(ScriptedDesktop::StackingOrder().front(), chosen);
}

TEST_F(Frame, WindowFromAMonitorOfAnotherScaleLandsByTheBorderItHasThere)
{
    // From the right-hand monitor at 150%, whose invisible border is 10 pixels, to the corner of
    // the left-hand one at 100%, where it is 7.
    ScriptedDesktop::SetMonitors({{"LEFT", {0, 0, 1280, 1024}, {0, 0, 1280, 1024}, true},
                                  {"RIGHT", {1280, 0, 3200, 1080}, {1280, 0, 3200, 1080}, false}});
    ScriptedDesktop::SetMonitorScale(1, 150);
    ScriptedDesktop::Close(chosen);
    chosen = ScriptedDesktop::Open("Chosen", 2000, 300, 300, 200);
    ScriptedDesktop::SetFrameInset(chosen, Windows10Border);
    const TopleftRun run = ChooseIt();
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ScriptedDesktop::Find(chosen)->x, -7);
    EXPECT_EQ(ScriptedDesktop::Find(chosen)->y, 0);
}

TEST_F(Frame, WithoutFrameBoundsTheRectangleIsTheCorner)
{
    ScriptedDesktop::SetFrameBounds(false);
    EXPECT_EQ(ChooseIt().status, 0);
    EXPECT_EQ(ScriptedDesktop::Find(chosen)->x, 0);
    EXPECT_EQ(ScriptedDesktop::Find(chosen)->y, 0);
}

TEST_F(Frame, MinimisedWindowIsRestoredAndPlacedAtItsRestoredSize)
{
    ScriptedDesktop::Minimise(chosen);
    const TopleftRun run = ChooseIt();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const ScriptedWindow* moved = ScriptedDesktop::Find(chosen);
    EXPECT_FALSE(moved->minimised);
    EXPECT_EQ(moved->x, -7);
    EXPECT_EQ(moved->y, 0);
    EXPECT_EQ(moved->width, 300);
    EXPECT_EQ(moved->height, 200);
    EXPECT_EQ(ScriptedDesktop::StackingOrder().front(), chosen);
}

TEST_F(Frame, MinimisedWindowWhosePlacementIsKeptIsShownToLearnItsSize)
{
    ScriptedDesktop::KeepPlacements();
    ScriptedDesktop::Minimise(chosen);
    const TopleftRun run = ChooseIt();
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ScriptedDesktop::Find(chosen)->width, 300);
    EXPECT_EQ(ScriptedDesktop::StackingOrder().front(), chosen);
}

TEST_F(Frame, MaximisedWindowStaysMaximisedAndIsRaised)
{
    ScriptedDesktop::Maximise(chosen);
    const TopleftRun run = ChooseIt();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const ScriptedWindow* raised = ScriptedDesktop::Find(chosen);
    EXPECT_TRUE(raised->maximised);
    EXPECT_EQ(raised->x, -8);
    EXPECT_EQ(raised->width, 1280 + 16);
    EXPECT_EQ(ScriptedDesktop::StackingOrder().front(), chosen);

    // Without the DWM's bounds, what is seen of it is still the work area's corner.
    SetUp();
    ScriptedDesktop::SetFrameBounds(false);
    ScriptedDesktop::Maximise(chosen);
    EXPECT_EQ(ChooseIt().status, 0);
}

TEST_F(Frame, WindowMaximisedOnTheOtherMonitorIsMaximisedOnTheCornersOne)
{
    ScriptedDesktop::SetMonitors({{"LEFT", {0, 0, 1280, 1024}, {0, 40, 1280, 1024}, true},
                                  {"RIGHT", {1280, 0, 3200, 1080}, {1280, 0, 3200, 1080}, false}});
    ScriptedDesktop::Close(chosen);
    chosen = ScriptedDesktop::Open("Chosen", 2000, 300, 300, 200);
    ScriptedDesktop::Maximise(chosen);
    const TopleftRun run = ChooseIt();
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    const ScriptedWindow* moved = ScriptedDesktop::Find(chosen);
    EXPECT_TRUE(moved->maximised);
    EXPECT_EQ(moved->x, -8); // over the left one's work area, below its taskbar
    EXPECT_EQ(moved->y, 40 - 8);
    EXPECT_EQ(moved->width, 1280 + 16);
    EXPECT_EQ(ScriptedDesktop::StackingOrder().front(), chosen);
}

TEST_F(Frame, BelowATaskbarAtTheTopTheWindowGoesToTheWorkAreasCorner)
{
    ScriptedDesktop::SetWorkArea({0, 40, 1280, 1024});
    TopleftRun run = ChooseIt();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ScriptedDesktop::Find(chosen)->x, -7); // its visible frame at (0, 40)
    EXPECT_EQ(ScriptedDesktop::Find(chosen)->y, 40);
    // A maximised window's visible corner is that corner already.
    SetUp();
    ScriptedDesktop::SetWorkArea({0, 40, 1280, 1024});
    ScriptedDesktop::Maximise(chosen);
    run = ChooseIt();
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
}

TEST_F(Frame, WindowLeftUnderAnotherIsReported)
{
    ScriptedDesktop::SetResponse(chosen, Response::StaysUnder);
    const TopleftRun run = ChooseIt();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "topleft: \"Chosen\" could not be moved: \"Other\" stayed above it.\n");
}

TEST_F(Frame, TopmostHiddenAndOwnWindowsMayStayAbove)
{
    const HWND clock = ScriptedDesktop::Open("Clock", 0, 0, 50, 50);
    ScriptedDesktop::SetTopmost(clock);
    const HWND dialog = ScriptedDesktop::Open("Dialog", 0, 0, 50, 50);
    ScriptedDesktop::SetOwner(dialog, chosen);
    ScriptedDesktop::SetOwner(ScriptedDesktop::Open("Dialog of the dialog", 0, 0, 50, 50), dialog);
    // Windows keeps a window's own dialogs above it, and "Other" here is hidden.
    ScriptedDesktop::SetResponse(chosen, Response::StaysUnder);
    ScriptedDesktop::Hide(other);
    const TopleftRun run = RunTopleft("2\n"); // Clock, Other, Chosen, Dialog, Dialog of the dialog
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ScriptedDesktop::StackingOrder()[0], clock);
}

TEST_F(Frame, HiddenAndCloakedWindowsAreMovedButNeverShownNorCalledSeen)
{
    ScriptedDesktop::Hide(chosen);
    TopleftRun run = ChooseIt();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "topleft: \"Chosen\" is hidden.\n");
    EXPECT_FALSE(ScriptedDesktop::Find(chosen)->visible);
    EXPECT_EQ(ScriptedDesktop::Find(chosen)->x, -7);

    SetUp();
    ScriptedDesktop::Cloak(chosen);
    run = ChooseIt();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "topleft: \"Chosen\" is on another virtual desktop or suspended.\n");
}

TEST_F(Frame, WindowClosedBeforeTheMoveIsReported)
{
    ScriptedDesktop::CloseOnMove(chosen);
    const TopleftRun run = ChooseIt();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "topleft: the window closed before it could be moved.\n");
}

} // namespace
