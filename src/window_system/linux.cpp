// The Linux window system: the desktop is only known at run time, so the backend that answers
// the calls is chosen once, on the first call, from the session: sway's IPC where SWAYSOCK names
// a socket that answers; on a Wayland session, KWin's scripting where the session bus has KWin,
// topleft's GNOME Shell extension where it has GNOME Shell, the foreign-toplevel protocol where
// the compositor offers it; else X11. With none to reach, the program ends with one line.
#include <langinfo.h>
#include <locale.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "window_system/backends.h"

namespace {

enum class Backend { X11, Sway, KWin, Gnome, ForeignToplevel };

std::string Variable(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

[[noreturn]] void Unlisted(const char* desktop, bool named = false);

Backend Choose()
{
    const std::string swaySocket = Variable("SWAYSOCK");
    if (!swaySocket.empty() && sway::Connect(swaySocket))
        return Backend::Sway;
    const bool wayland = !Variable("WAYLAND_DISPLAY").empty() || Variable("XDG_SESSION_TYPE") == "wayland";
    // A compositor that offers the foreign-toplevel protocol says so at once, on its own socket,
    // and spares the session bus (and libsystemd's loading); KWin and GNOME Shell offer it to no
    // program. One that does not answer there is named, where it can be, by the bus.
    const foreign_toplevel::Reach toplevels = wayland ? foreign_toplevel::Connect() : foreign_toplevel::Reach::None;
    if (toplevels == foreign_toplevel::Reach::Toplevel)
        return Backend::ForeignToplevel;
    if (wayland && kwin::Connect())
        return Backend::KWin;
    const gnome::Reach gnomeShell = wayland ? gnome::Connect() : gnome::Reach::NoShell;
    if (gnomeShell == gnome::Reach::Extension)
        return Backend::Gnome;
    if (gnomeShell == gnome::Reach::NoExtension)
        std::fprintf(stderr,
                     "topleft: GNOME Shell shows other programs only its X11 windows unless topleft's extension "
                     "is on: run \"gnome-extensions enable %s\" and log in again.\n",
                     gnome::ExtensionUuid);
    if (toplevels == foreign_toplevel::Reach::Silent)
        Unlisted("the Wayland compositor", true);
    if (x11::Connect()) {
        // Under another Wayland compositor the X display is XWayland's, which shows only the
        // windows of X11 programs.
        if (wayland && gnomeShell == gnome::Reach::NoShell)
            std::fputs("topleft: this Wayland desktop shows other programs only their X11 windows; "
                       "its native windows are not listed.\n",
                       stderr);
        return Backend::X11;
    }
    const std::string display = Variable("DISPLAY");
    std::fprintf(stderr, "topleft: cannot open display %s%s%s\n",
                 display.empty() ? "(DISPLAY is not set)" : display.c_str(),
                 swaySocket.empty() ? "" : ", and sway does not answer at ", swaySocket.c_str());
    std::exit(1);
}

Backend Chosen()
{
    static const Backend chosen = Choose();
    return chosen;
}

// One line for a desktop that was reached but did not list its windows: what it lacks, what it
// answered that cannot be read, or that it closed the connection, where the backend says so; else
// that it did not answer, in the backend's words where it names the desktop (`named`).
[[noreturn]] void Unlisted(const char* desktop, bool named)
{
    const DWORD error = GetLastError();
    char text[256] = "";
    if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_DATA || error == ERROR_BROKEN_PIPE ||
        (error == ERROR_TIMEOUT && named))
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, error, 0, text, sizeof text, nullptr);
    if (text[0])
        std::fprintf(stderr, "topleft: %s.\n", text);
    else
        std::fprintf(stderr, "topleft: %s did not answer.\n", desktop);
    std::exit(1);
}

} // namespace

// A desktop that was reached but does not list its windows is as good as none.
BOOL EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam)
{
    switch (Chosen()) {
    case Backend::Sway:
        if (!sway::EnumWindows(lpEnumFunc, lParam))
            Unlisted("sway");
        break;
    case Backend::KWin:
        if (!kwin::EnumWindows(lpEnumFunc, lParam))
            Unlisted("KWin");
        break;
    case Backend::Gnome:
        if (!gnome::EnumWindows(lpEnumFunc, lParam))
            Unlisted("GNOME Shell");
        break;
    case Backend::ForeignToplevel:
        if (!foreign_toplevel::EnumWindows(lpEnumFunc, lParam))
            Unlisted("the Wayland compositor", true);
        break;
    case Backend::X11:
        if (!x11::EnumWindows(lpEnumFunc, lParam))
            Unlisted("the X server");
        break;
    }
    return TRUE;
}

// The chosen backend's own definition of a call.
#define TOPLEFT_DISPATCH(call, ...)                                                                                    \
    switch (Chosen()) {                                                                                                \
    case Backend::Sway:                                                                                                \
        return sway::call(__VA_ARGS__);                                                                                \
    case Backend::KWin:                                                                                                \
        return kwin::call(__VA_ARGS__);                                                                                \
    case Backend::Gnome:                                                                                               \
        return gnome::call(__VA_ARGS__);                                                                               \
    case Backend::ForeignToplevel:                                                                                     \
        return foreign_toplevel::call(__VA_ARGS__);                                                                    \
    case Backend::X11:                                                                                                 \
        break;                                                                                                         \
    }                                                                                                                  \
    return x11::call(__VA_ARGS__)

int GetWindowTextA(HWND hWnd, char* lpString, int nMaxCount)
{
    TOPLEFT_DISPATCH(GetWindowTextA, hWnd, lpString, nMaxCount);
}

BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags)
{
    TOPLEFT_DISPATCH(SetWindowPos, hWnd, hWndInsertAfter, X, Y, cx, cy, uFlags);
}

BOOL GetWindowRect(HWND hWnd, RECT* lpRect) { TOPLEFT_DISPATCH(GetWindowRect, hWnd, lpRect); }

BOOL IsWindowVisible(HWND hWnd) { TOPLEFT_DISPATCH(IsWindowVisible, hWnd); }

BOOL IsZoomed(HWND hWnd) { TOPLEFT_DISPATCH(IsZoomed, hWnd); }

HRESULT DwmGetWindowAttribute(HWND /*hwnd*/, DWORD /*dwAttribute*/, void* /*pvAttribute*/, DWORD /*cbAttribute*/)
{
    return E_NOTIMPL;
}

HMONITOR MonitorFromPoint(POINT pt, DWORD dwFlags) { TOPLEFT_DISPATCH(MonitorFromPoint, pt, dwFlags); }

BOOL GetMonitorInfoA(HMONITOR hMonitor, MONITORINFO* lpmi) { TOPLEFT_DISPATCH(GetMonitorInfoA, hMonitor, lpmi); }

// No message reaches the window's program here, so there is nothing to wait for; whether the
// window is still there, the move itself finds out.
LRESULT SendMessageTimeoutA(HWND /*hWnd*/, UINT /*Msg*/, WPARAM /*wParam*/, LPARAM /*lParam*/, UINT /*fuFlags*/,
                            UINT /*uTimeout*/, DWORD_PTR* lpdwResult)
{
    if (lpdwResult)
        *lpdwResult = 0;
    return 1;
}

HANDLE GetStdHandle(DWORD nStdHandle)
{
    return nStdHandle == STD_OUTPUT_HANDLE ? reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(STDOUT_FILENO))
                                           : nullptr;
}

BOOL GetConsoleMode(HANDLE hConsoleHandle, DWORD* lpMode)
{
    if (lpMode)
        *lpMode = 0;
    return hConsoleHandle && isatty(static_cast<int>(reinterpret_cast<std::intptr_t>(hConsoleHandle)));
}

UINT GetACP() { return CP_UTF8; }

// The locale's charset, asked of a locale object of its own: the process's stays "C", which the
// reading of the number relies on. A locale the system does not have is judged by its name.
UINT GetConsoleOutputCP()
{
    static const UINT codePage = [] {
        bool utf8 = false;
        if (const locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr))) {
            utf8 = std::strcmp(nl_langinfo_l(CODESET, locale), "UTF-8") == 0;
            freelocale(locale);
        } else {
            std::string name;
            for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"})
                if (name.empty())
                    name = Variable(variable);
            for (char& c : name)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            utf8 = name.find("utf-8") != std::string::npos || name.find("utf8") != std::string::npos;
        }
        constexpr UINT Iso8859_1 = 28591;
        return utf8 ? CP_UTF8 : Iso8859_1;
    }();
    return codePage;
}
