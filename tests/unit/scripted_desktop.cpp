// The scripted desktop's model and its definitions of the window-system calls, with the user32
// and DWM calls the Windows frame makes.
#include "scripted_desktop.h"

#include "window_system/last_error.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

std::vector<ScriptedWindow> Stacking; // topmost first
std::vector<SetWindowPosCall> Recorded;
std::uintptr_t NextId = 0x1000;
HWND ClosingOnMove = nullptr;
int ChangeAt = -1;
void (*Change)() = nullptr;
bool FrameBounds = false;
bool PlacementsTold = true;
bool Terminal = false;
const Monitor Screen{"SCREEN", {0, 0, 1280, 1024}, {0, 0, 1280, 1024}, true};
std::vector<Monitor> Monitors{Screen};
std::vector<int> Scales; // percent, for each monitor; 100 where none is set
// A maximised window's rectangle reaches this far past the work area on every side, as on Windows.
constexpr int MaximisedOverhang = 8;

std::vector<ScriptedWindow>::iterator Locate(HWND window)
{
    return std::find_if(Stacking.begin(), Stacking.end(),
                        [window](const ScriptedWindow& w) { return w.handle == window; });
}

RECT RectOf(const ScriptedWindow& w) { return {w.x, w.y, w.x + w.width, w.y + w.height}; }

void SetRect(ScriptedWindow& w, const RECT& r)
{
    w.x = r.left;
    w.y = r.top;
    w.width = r.right - r.left;
    w.height = r.bottom - r.top;
}

bool OwnedBy(const ScriptedWindow& w, HWND owner)
{
    for (HWND up = w.owner; up; up = Locate(up) == Stacking.end() ? nullptr : Locate(up)->owner)
        if (up == owner)
            return true;
    return false;
}

// To the top of its band: a topmost window above every other, any other just below the topmost;
// the windows it owns, and theirs, above it, as Windows keeps them.
void Raise(HWND window)
{
    auto found = Locate(window);
    const auto band = found->topmost
        ? Stacking.begin()
        : std::find_if(Stacking.begin(), Stacking.end(), [](const ScriptedWindow& w) { return !w.topmost; });
    if (band <= found)
        std::rotate(band, found, found + 1);
    std::vector<HWND> owned;
    for (const ScriptedWindow& w : Stacking)
        if (OwnedBy(w, window))
            owned.push_back(w.handle);
    for (auto w = owned.rbegin(); w != owned.rend(); ++w) {
        const auto at = Locate(*w), top = Locate(window);
        if (at > top)
            std::rotate(top, at, at + 1);
    }
}

// The monitor that shows the middle of the window, or of where it is restored to.
const Monitor& MonitorOf(const ScriptedWindow& w)
{
    const RECT r = w.minimised || w.maximised ? w.restored : RectOf(w);
    const auto index = reinterpret_cast<std::uintptr_t>(
        ChooseMonitor(Monitors, POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2}, MONITOR_DEFAULTTONEAREST));
    return Monitors[index - 1];
}

void Restore(ScriptedWindow& w)
{
    SetRect(w, w.restored);
    w.minimised = w.maximised = false;
}

} // namespace

namespace ScriptedDesktop {

void Reset()
{
    Stacking.clear();
    Recorded.clear();
    NextId = 0x1000;
    ClosingOnMove = nullptr;
    ChangeAt = -1;
    Change = nullptr;
    FrameBounds = false;
    PlacementsTold = true;
    Terminal = false;
    Monitors = {Screen};
    Scales.clear();
}

void KeepPlacements() { PlacementsTold = false; }
void SetTerminal(bool terminal) { Terminal = terminal; }

void SetFrameBounds(bool reported) { FrameBounds = reported; }
void SetMonitors(std::vector<Monitor> monitors) { Monitors = std::move(monitors); }
void SetWorkArea(RECT workArea) { Monitors.front().work = workArea; }
void SetFrameInset(HWND window, RECT inset) { Locate(window)->frameInset = inset; }

void SetMonitorScale(std::size_t monitor, int percent)
{
    Scales.resize(std::max(Scales.size(), monitor + 1), 100);
    Scales[monitor] = percent;
}

void Minimise(HWND window)
{
    ScriptedWindow& w = *Locate(window);
    w.restored = RectOf(w);
    SetRect(w, {-32000, -32000, -32000 + 160, -32000 + 28});
    w.minimised = true;
}

void Maximise(HWND window)
{
    ScriptedWindow& w = *Locate(window);
    w.restored = RectOf(w);
    const RECT& work = MonitorOf(w).work;
    SetRect(w,
            {work.left - MaximisedOverhang, work.top - MaximisedOverhang, work.right + MaximisedOverhang,
             work.bottom + MaximisedOverhang});
    w.maximised = true;
}

void Hide(HWND window) { Locate(window)->visible = false; }
void Cloak(HWND window) { Locate(window)->cloaked = true; }

void SetTopmost(HWND window)
{
    Locate(window)->topmost = true;
    Raise(window);
}

void SetOwner(HWND window, HWND owner) { Locate(window)->owner = owner; }

HWND Open(std::string title, int x, int y, int width, int height)
{
    const HWND handle = reinterpret_cast<HWND>(NextId);
    NextId += 0x10;
    Stacking.push_back({handle, std::move(title), x, y, width, height});
    return handle;
}

void Close(HWND window)
{
    const auto found = Locate(window);
    if (found != Stacking.end())
        Stacking.erase(found);
}

void SetResponse(HWND window, Response response)
{
    const auto found = Locate(window);
    if (found != Stacking.end())
        found->response = response;
}

void CloseOnMove(HWND window) { ClosingOnMove = window; }

void DuringEnumeration(int index, void (*change)())
{
    ChangeAt = index;
    Change = change;
}

const ScriptedWindow* Find(HWND window)
{
    const auto found = Locate(window);
    return found == Stacking.end() ? nullptr : &*found;
}

std::vector<HWND> StackingOrder()
{
    std::vector<HWND> order;
    for (const ScriptedWindow& w : Stacking)
        order.push_back(w.handle);
    return order;
}

const std::vector<SetWindowPosCall>& Calls() { return Recorded; }

} // namespace ScriptedDesktop

BOOL EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam)
{
    // Walk a snapshot, as a real window system does: windows may close under the walk.
    const std::vector<HWND> snapshot = ScriptedDesktop::StackingOrder();
    for (std::size_t i = 0; i < snapshot.size(); ++i) {
        if (static_cast<int>(i) == ChangeAt && Change)
            Change();
        if (!lpEnumFunc(snapshot[i], lParam))
            break;
    }
    return TRUE;
}

int GetWindowTextA(HWND hWnd, char* lpString, int nMaxCount)
{
    if (nMaxCount <= 0)
        return 0;
    const ScriptedWindow* window = ScriptedDesktop::Find(hWnd);
    const std::string title = window ? window->title : std::string();
    const std::size_t length = std::min(title.size(), static_cast<std::size_t>(nMaxCount - 1));
    std::memcpy(lpString, title.data(), length);
    lpString[length] = '\0';
    return static_cast<int>(length);
}

BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags)
{
    Recorded.push_back({hWnd, hWndInsertAfter, X, Y, cx, cy, uFlags});
    if (hWnd == ClosingOnMove)
        ScriptedDesktop::Close(hWnd);
    const auto found = Locate(hWnd);
    if (found == Stacking.end())
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    if (found->response == Response::Refuses)
        return Fail(ERROR_ACCESS_DENIED, "the window manager kept it where it was");
    if (!(uFlags & SWP_NOMOVE)) {
        found->x = X;
        found->y = Y;
    }
    if (!(uFlags & SWP_NOSIZE)) {
        found->width = cx;
        found->height = cy;
    }
    if (found->response == Response::Shifts) {
        found->x += 12;
        found->y += 40;
    } else if (found->response == Response::Grows) {
        found->height += 20;
    }
    if (hWndInsertAfter == HWND_TOP && !(uFlags & SWP_NOZORDER)) {
        const auto top =
            std::find_if(Stacking.begin(), Stacking.end(), [](const ScriptedWindow& w) { return !w.topmost; });
        const HWND wasOnTop = top == Stacking.end() ? nullptr : top->handle;
        const bool staysUnder = found->response == Response::StaysUnder;
        Raise(hWnd);
        if (staysUnder && wasOnTop && wasOnTop != hWnd)
            Raise(wasOnTop);
    }
    return TRUE;
}

BOOL GetWindowRect(HWND hWnd, RECT* lpRect)
{
    const ScriptedWindow* window = ScriptedDesktop::Find(hWnd);
    if (!window)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    *lpRect = {window->x, window->y, window->x + window->width, window->y + window->height};
    return TRUE;
}

LRESULT SendMessageTimeoutA(HWND hWnd, UINT /*Msg*/, WPARAM /*wParam*/, LPARAM /*lParam*/, UINT /*fuFlags*/,
                            UINT /*uTimeout*/, DWORD_PTR* lpdwResult)
{
    const ScriptedWindow* window = ScriptedDesktop::Find(hWnd);
    if (!window)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    if (window->response == Response::StopsAnswering)
        return Fail(ERROR_TIMEOUT);
    if (lpdwResult)
        *lpdwResult = 0;
    return 1;
}

BOOL IsWindow(HWND hWnd) { return ScriptedDesktop::Find(hWnd) != nullptr; }

BOOL IsIconic(HWND hWnd)
{
    const ScriptedWindow* window = ScriptedDesktop::Find(hWnd);
    return window && window->minimised;
}

BOOL IsZoomed(HWND hWnd)
{
    const ScriptedWindow* window = ScriptedDesktop::Find(hWnd);
    return window && window->maximised;
}

BOOL IsWindowVisible(HWND hWnd)
{
    const ScriptedWindow* window = ScriptedDesktop::Find(hWnd);
    return window && window->visible;
}

// Restoring shows the window again where it was, activated, so on top of its band.
BOOL ShowWindow(HWND hWnd, int nCmdShow)
{
    const auto found = Locate(hWnd);
    if (found == Stacking.end())
        return FALSE;
    const BOOL wasVisible = found->visible;
    if (nCmdShow == SW_RESTORE && (found->minimised || found->maximised)) {
        Restore(*found);
        found->visible = true;
        Raise(hWnd);
    } else if (nCmdShow == SW_SHOWNOACTIVATE && found->minimised) {
        Restore(*found);
        found->visible = true;
    }
    return wasVisible;
}

HWND GetWindow(HWND hWnd, UINT uCmd)
{
    const auto found = Locate(hWnd);
    if (found == Stacking.end())
        return nullptr;
    if (uCmd == GW_OWNER)
        return found->owner;
    if (uCmd == GW_HWNDPREV && found != Stacking.begin())
        return std::prev(found)->handle;
    return nullptr;
}

LONG GetWindowLongA(HWND hWnd, int nIndex)
{
    const ScriptedWindow* window = ScriptedDesktop::Find(hWnd);
    return window && nIndex == GWL_EXSTYLE && window->topmost ? WS_EX_TOPMOST : 0;
}

BOOL GetWindowPlacement(HWND hWnd, WINDOWPLACEMENT* lpwndpl)
{
    const ScriptedWindow* window = ScriptedDesktop::Find(hWnd);
    if (!window)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    const bool told = (window->minimised || window->maximised) && PlacementsTold;
    lpwndpl->rcNormalPosition = told ? window->restored : RectOf(*window);
    return TRUE;
}

// The restored place given in workspace coordinates, those of the first monitor's work area; a
// window shown maximised is maximised on the monitor of that place.
BOOL SetWindowPlacement(HWND hWnd, const WINDOWPLACEMENT* lpwndpl)
{
    const auto found = Locate(hWnd);
    if (found == Stacking.end())
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    const RECT& work = Monitors.front().work;
    const RECT& normal = lpwndpl->rcNormalPosition;
    Restore(*found);
    SetRect(*found, {normal.left + work.left, normal.top + work.top, normal.right + work.left,
                     normal.bottom + work.top});
    if (lpwndpl->showCmd == SW_SHOWMAXIMIZED)
        ScriptedDesktop::Maximise(hWnd);
    return TRUE;
}

HMONITOR MonitorFromWindow(HWND hwnd, DWORD dwFlags)
{
    const ScriptedWindow* window = ScriptedDesktop::Find(hwnd);
    const POINT middle = window ? POINT{window->x + window->width / 2, window->y + window->height / 2} : POINT{0, 0};
    return ChooseMonitor(Monitors, middle, dwFlags);
}

HMONITOR MonitorFromPoint(POINT pt, DWORD dwFlags) { return ChooseMonitor(Monitors, pt, dwFlags); }

BOOL GetMonitorInfoA(HMONITOR hMonitor, MONITORINFO* lpmi) { return DescribeMonitor(Monitors, hMonitor, lpmi); }

HRESULT DwmGetWindowAttribute(HWND hwnd, DWORD dwAttribute, void* pvAttribute, DWORD cbAttribute)
{
    const ScriptedWindow* window = ScriptedDesktop::Find(hwnd);
    if (!FrameBounds || !window)
        return E_NOTIMPL;
    if (dwAttribute == DWMWA_CLOAKED && cbAttribute == sizeof(DWORD)) {
        *static_cast<DWORD*>(pvAttribute) = window->cloaked ? 2 : 0; // DWM_CLOAKED_SHELL
        return S_OK;
    }
    if (dwAttribute != DWMWA_EXTENDED_FRAME_BOUNDS || cbAttribute != sizeof(RECT))
        return E_NOTIMPL;
    // The border at the scale of the monitor the window is on.
    const auto index = reinterpret_cast<std::uintptr_t>(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST)) - 1;
    const int scale = index < Scales.size() ? Scales[index] : 100;
    const RECT& base = window->frameInset;
    const RECT inset{base.left * scale / 100, base.top * scale / 100, base.right * scale / 100,
                     base.bottom * scale / 100};
    *static_cast<RECT*>(pvAttribute) = window->maximised
        ? MonitorOf(*window).work
        : RECT{window->x + inset.left, window->y + inset.top, window->x + window->width - inset.right,
               window->y + window->height - inset.bottom};
    return S_OK;
}

HANDLE GetStdHandle(DWORD nStdHandle) { return nStdHandle == STD_OUTPUT_HANDLE ? &Terminal : nullptr; }

BOOL GetConsoleMode(HANDLE hConsoleHandle, DWORD* lpMode)
{
    if (lpMode)
        *lpMode = 0;
    return hConsoleHandle == &Terminal && Terminal;
}

UINT GetACP() { return CP_UTF8; }

UINT GetConsoleOutputCP() { return CP_UTF8; }
