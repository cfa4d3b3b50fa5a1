// The listing as a person reads it in a Windows console. The program declares UTF-8 its code page
// (the manifest's activeCodePage, Windows 10 1903 and later), so GetWindowTextA gives every title
// whole; the console shows text in its own output code page, so that is set to the program's while
// it runs and put back as it was whenever it ends (a normal end, or Ctrl+C, a closed console).
// Before 1903 the program's code page is the system's ANSI one, and the console is set to that.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "window_system/title.h"
#include "window_system/window_system.h"

// Here the names are user32's own: window_system.h points the core's at the calls below.
#undef EnumWindows
#undef GetWindowTextA

namespace {

UINT ConsoleCodePage; // as the console had it, 0 until it is changed

void PutConsoleBack()
{
    if (ConsoleCodePage)
        SetConsoleOutputCP(ConsoleCodePage);
}

BOOL WINAPI PutConsoleBackOnTheWayOut(DWORD /*event*/)
{
    PutConsoleBack();
    return FALSE; // the system's own handling follows: the program ends
}

} // namespace

BOOL ConsoleEnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam)
{
    const UINT shown = GetConsoleOutputCP(); // 0 without a console
    if (shown && shown != GetACP() && SetConsoleOutputCP(GetACP())) {
        ConsoleCodePage = shown;
        std::atexit(PutConsoleBack);
        SetConsoleCtrlHandler(PutConsoleBackOnTheWayOut, TRUE);
    }
    return EnumWindows(lpEnumFunc, lParam);
}

int WholeCharacterGetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount)
{
    if (GetACP() != CP_UTF8 || !lpString || nMaxCount <= 0)
        return GetWindowTextA(hWnd, lpString, nMaxCount);
    // Room for the longest title the buffer can take, in characters of up to four bytes: the
    // system's own cut, if any, falls well past where ours does.
    char whole[4 * 128 + 4];
    const int fetched = GetWindowTextA(hWnd, whole, static_cast<int>(sizeof whole));
    return static_cast<int>(CopyUtf8Title(whole, static_cast<std::size_t>(std::max(fetched, 0)), lpString,
                                          static_cast<std::size_t>(nMaxCount)));
}
