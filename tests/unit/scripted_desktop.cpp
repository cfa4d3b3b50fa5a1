// The scripted desktop's model and its definitions of the three window-system calls.
#include "scripted_desktop.h"

#include "window_system/last_error.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

std::vector<ScriptedWindow> Stacking; // topmost first
std::vector<SetWindowPosCall> Recorded;
std::uintptr_t NextId = 0x1000;
HWND ClosingOnMove = nullptr;
int ChangeAt = -1;
void (*Change)() = nullptr;

std::vector<ScriptedWindow>::iterator Locate(HWND window)
{
    return std::find_if(Stacking.begin(), Stacking.end(),
                        [window](const ScriptedWindow& w) { return w.handle == window; });
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
}

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
    found->x = X;
    found->y = Y;
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
    if (hWndInsertAfter == HWND_TOP)
        std::rotate(Stacking.begin(), found, found + 1);
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
