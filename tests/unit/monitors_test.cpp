// The corner on desktops of several monitors: the rule that picks the monitor, and the move that
// goes to its corner, on the scripted desktop.
#include <string>

#include "run_topleft.h"

namespace {

// A laptop beside a taller screen: no monitor shows (0, 0).
const Monitor Left{"LEFT", {0, 276, 1280, 1300}, {0, 276, 1280, 1300}, false};
const Monitor Right{"RIGHT", {1280, 0, 3200, 1080}, {1280, 0, 3200, 1080}, false};

Monitor Primary(Monitor monitor)
{
    monitor.primary = true;
    return monitor;
}

TEST(ChooseMonitor, FollowsMonitorFromPointsRule)
{
    const std::vector<Monitor> both{Left, Right};
    // The monitor showing the point, whatever is primary.
    EXPECT_EQ(ChooseMonitor({Left, Primary(Right)}, {10, 300}, MONITOR_DEFAULTTOPRIMARY),
              ChooseMonitor(both, {10, 300}, MONITOR_DEFAULTTONULL));
    EXPECT_NE(ChooseMonitor(both, {10, 300}, MONITOR_DEFAULTTONULL), nullptr);
    // No monitor shows (0, 0): the primary, else the one whose corner is nearest.
    EXPECT_EQ(ChooseMonitor(both, {0, 0}, MONITOR_DEFAULTTONULL), nullptr);
    EXPECT_EQ(ChooseMonitor({Left, Primary(Right)}, {0, 0}, MONITOR_DEFAULTTOPRIMARY), reinterpret_cast<HMONITOR>(2));
    EXPECT_EQ(ChooseMonitor(both, {0, 0}, MONITOR_DEFAULTTOPRIMARY), reinterpret_cast<HMONITOR>(1));
    // Nearest by distance to the area, not to the corner.
    EXPECT_EQ(ChooseMonitor(both, {1300, 2000}, MONITOR_DEFAULTTONEAREST), reinterpret_cast<HMONITOR>(1));
    EXPECT_EQ(ChooseMonitor({}, {0, 0}, MONITOR_DEFAULTTOPRIMARY), nullptr);
}

TEST(DescribeMonitor, GivesTheAreaAndACutName)
{
    const std::vector<Monitor> monitors{Primary(Left), {std::string(40, 'n'), {0, 0, 10, 10}, {0, 0, 10, 10}, false}};
    MONITORINFOEXA info{};
    info.cbSize = sizeof info;
    ASSERT_TRUE(DescribeMonitor(monitors, reinterpret_cast<HMONITOR>(1), &info));
    EXPECT_EQ(info.rcMonitor.top, 276);
    EXPECT_EQ(info.dwFlags, MONITORINFOF_PRIMARY);
    EXPECT_EQ(std::string(info.szDevice), "LEFT");
    ASSERT_TRUE(DescribeMonitor(monitors, reinterpret_cast<HMONITOR>(2), &info));
    EXPECT_EQ(std::string(info.szDevice), std::string(CCHDEVICENAME - 1, 'n'));
    EXPECT_FALSE(DescribeMonitor(monitors, reinterpret_cast<HMONITOR>(3), &info));
    EXPECT_FALSE(DescribeMonitor(monitors, nullptr, &info));
}

class SeveralMonitors : public FreshProcess {
protected:
    void SetUp() override
    {
        FreshProcess::SetUp();
        window = ScriptedDesktop::Open("Editor", 1500, 400, 300, 200);
    }
    HWND window = nullptr;
};

TEST_F(SeveralMonitors, WindowGoesToTheDesktopsCornerWhereAMonitorShowsIt)
{
    ScriptedDesktop::SetMonitors({Right, {"TOP-LEFT", {0, 0, 1280, 1024}, {0, 0, 1280, 1024}, false}});
    EXPECT_EQ(RunTopleft("0\n").status, 0);
    EXPECT_EQ(ScriptedDesktop::Find(window)->x, 0);
    EXPECT_EQ(ScriptedDesktop::Find(window)->y, 0);
}

TEST_F(SeveralMonitors, WithNoMonitorAtTheOriginTheWindowGoesToThePrimaryMonitorsCorner)
{
    ScriptedDesktop::SetMonitors({Left, Primary(Right)});
    const TopleftRun run = RunTopleft("0\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ScriptedDesktop::Find(window)->x, 1280);
    EXPECT_EQ(ScriptedDesktop::Find(window)->y, 0);
}

TEST_F(SeveralMonitors, WithNoPrimaryTheMonitorNearestTheOriginIsChosen)
{
    ScriptedDesktop::SetMonitors({Right, Left});
    EXPECT_EQ(RunTopleft("0\n").status, 0);
    EXPECT_EQ(ScriptedDesktop::Find(window)->x, 0);
    EXPECT_EQ(ScriptedDesktop::Find(window)->y, 276);
}

TEST_F(SeveralMonitors, MessageNamesTheMonitorsCorner)
{
    ScriptedDesktop::SetMonitors({Left, Right});
    ScriptedDesktop::SetResponse(window, Response::Shifts);
    const TopleftRun run = RunTopleft("0\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "topleft: \"Editor\" is at (12, 316), not at the corner of monitor \"LEFT\" (0, 276).\n");
}

TEST_F(SeveralMonitors, BesideAPanelTheCornerIsThatOfTheSpaceItLeaves)
{
    // A taskbar along the top, then one along the left edge.
    for (const RECT work : {RECT{0, 32, 1280, 800}, RECT{48, 0, 1280, 800}}) {
        SetUp();
        ScriptedDesktop::SetMonitors({{"SCREEN", {0, 0, 1280, 800}, work, true}});
        const TopleftRun run = RunTopleft("0\n");
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(ScriptedDesktop::Find(window)->x, work.left);
        EXPECT_EQ(ScriptedDesktop::Find(window)->y, work.top);
        // Asked for at once: a window put under the panel first would show there a moment.
        EXPECT_EQ(ScriptedDesktop::Calls().size(), 1U);
    }
}

TEST_F(SeveralMonitors, APanelOnAnotherMonitorMovesNothing)
{
    ScriptedDesktop::SetMonitors({{"LEFT", {0, 0, 1280, 1024}, {0, 0, 1280, 1024}, true},
                                  {"RIGHT", {1280, 0, 3200, 1080}, {1280, 40, 3200, 1080}}});
    EXPECT_EQ(RunTopleft("0\n").status, 0);
    EXPECT_EQ(ScriptedDesktop::Find(window)->y, 0);
}

TEST_F(SeveralMonitors, KeptUnderThePanelIsReported)
{
    ScriptedDesktop::SetMonitors({{"SCREEN", {0, 0, 1280, 800}, {0, 32, 1280, 800}, true}});
    ScriptedDesktop::SetResponse(window, Response::Shifts);
    const TopleftRun run = RunTopleft("0\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "topleft: \"Editor\" is at (12, 72), not at the corner (0, 32).\n");
}

} // namespace
