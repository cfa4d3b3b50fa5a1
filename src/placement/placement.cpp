// The second phase: one prompt, one number, one move, and an honest account of the move: the
// window is read back afterwards, and anything but the corner, the same size and the top of the
// stacking order is reported on standard error.
#include "placement/placement.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <iterator>
#include <string>

#include "catalogue/catalogue.h"
#include "window_system/title.h"

std::optional<std::int64_t> ReadSelectionNumber(std::FILE* input)
{
    int c = std::getc(input);
    while (c != EOF && std::isspace(c))
        c = std::getc(input);

    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        c = std::getc(input);
    }

    // Any magnitude past this one is outside the 32-bit range in both directions.
    constexpr std::int64_t Saturated = std::int64_t{INT_MAX} + 2;
    std::int64_t magnitude = 0;
    bool anyDigit = false;
    while (c != EOF && std::isdigit(c)) {
        anyDigit = true;
        if (magnitude < Saturated)
            magnitude = magnitude * 10 + (c - '0');
        c = std::getc(input);
    }
    if (c != EOF)
        std::ungetc(c, input);

    if (!anyDigit)
        return std::nullopt;
    if (magnitude > Saturated)
        magnitude = Saturated;
    return negative ? -magnitude : magnitude;
}

std::optional<int> CatalogueEntryFor(std::int64_t selection, int entryCount)
{
    if (entryCount <= 0 || selection >= entryCount)
        return std::nullopt;
    return selection < 0 ? 0 : static_cast<int>(selection);
}

namespace {

// How long a window's program may take to show it is alive before the move is given up.
constexpr UINT ResponseTimeoutMs = 2000;

// The window's title as a message shows it.
std::string TitleOf(HWND window)
{
    char title[128];
    title[0] = '\0';
    GetWindowTextA(window, title, sizeof title);
    return QuotedTitle(title, CharsetOf(GetConsoleOutputCP()));
}

// The system's text for an error, on one line, without the final full stop it may carry.
std::string ErrorText(DWORD error)
{
    char text[512];
    text[0] = '\0';
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                        text, sizeof text, nullptr);
    std::string line(text, std::min<std::size_t>(length, std::strlen(text)));
    while (!line.empty() && (std::isspace(static_cast<unsigned char>(line.back())) || line.back() == '.'))
        line.pop_back();
    for (char& c : line)
        if (c == '\r' || c == '\n')
            c = ' ';
    if (line.empty())
        line = "error " + std::to_string(error);
    return line;
}

int Report(const std::string& line)
{
    std::fprintf(stderr, "topleft: %s\n", line.c_str());
    return 1;
}

const char* const ClosedMessage = "the window closed before it could be moved.";

// A call about the window that failed, in the words of its error: the window gone, its desktop
// silent, or what the desktop did instead of the move.
int Failed(HWND window, DWORD error)
{
    if (error == ERROR_INVALID_WINDOW_HANDLE)
        return Report(ClosedMessage);
    // The desktop silent, its connection gone, or a move it lets no program make: no fault of
    // this window's, in the desktop's own words.
    if (error == ERROR_TIMEOUT || error == ERROR_BROKEN_PIPE || error == ERROR_NOT_SUPPORTED)
        return Report(ErrorText(error) + ".");
    return Report(TitleOf(window) + " could not be moved: " + ErrorText(error) + ".");
}

// Whether the system keeps the window out of sight: on another virtual desktop, or the suspended
// frame of an app.
bool Cloaked(HWND window)
{
    DWORD cloaked = 0;
    return DwmGetWindowAttribute(window, DWMWA_CLOAKED, &cloaked, sizeof cloaked) == S_OK && cloaked != 0;
}

// Where the window goes: the top-left corner of the space the panels leave free on the monitor
// that shows the desktop's (0, 0), or where none does, on the primary monitor (the system's rule),
// so that it never lands where no monitor shows it nor under a panel, which would hide its title
// bar. Without panels along the top or left edge that is the monitor's corner: (0, 0) on most
// desktops.
struct Corner {
    LONG x = 0, y = 0;
    std::string words = "the corner"; // as a message names it
};

Corner TargetCorner()
{
    Corner corner;
    const HMONITOR monitor = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFOEXA info{};
    info.cbSize = sizeof(MONITORINFO);
    if (!monitor || !GetMonitorInfoA(monitor, &info))
        return corner; // a desktop that tells nothing of its monitors: its own corner
    corner.x = info.rcMonitor.left;
    corner.y = info.rcMonitor.top;
    const bool shown = info.rcWork.left >= info.rcMonitor.left && info.rcWork.top >= info.rcMonitor.top &&
        info.rcWork.left < info.rcWork.right && info.rcWork.top < info.rcWork.bottom &&
        info.rcWork.right <= info.rcMonitor.right && info.rcWork.bottom <= info.rcMonitor.bottom;
    const bool monitorAtOrigin = corner.x == 0 && corner.y == 0;
    if (shown) {
        corner.x = info.rcWork.left;
        corner.y = info.rcWork.top;
    }
    const std::string at = " (" + std::to_string(corner.x) + ", " + std::to_string(corner.y) + ")";
    if (monitorAtOrigin) {
        if (corner.x != 0 || corner.y != 0)
            corner.words += at; // beside a panel
        return corner;
    }
    // The name only for a message that needs it: a desktop may have to be asked for it.
    info.cbSize = sizeof info;
    info.szDevice[0] = '\0';
    GetMonitorInfoA(monitor, &info);
    info.szDevice[sizeof info.szDevice - 1] = '\0';
    corner.words = "the corner of monitor " + QuotedTitle(info.szDevice, CharsetOf(GetConsoleOutputCP())) + at;
    return corner;
}

} // namespace

int PlaceWindow(HWND window)
{
    // A program that does not take its messages would hold a move up for good, and even the look
    // before it (a minimised window may have to be shown to learn its size).
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, ResponseTimeoutMs, &answer)) {
        if (GetLastError() == ERROR_INVALID_WINDOW_HANDLE)
            return Report(ClosedMessage);
        return Report(TitleOf(window) + " is not responding; it was not moved.");
    }
    RECT before;
    if (!GetWindowRect(window, &before))
        return Failed(window, GetLastError());
    const bool wasMaximised = IsZoomed(window);

    const Corner corner = TargetCorner();
    const BOOL moved =
        SetWindowPos(window, HWND_TOP, static_cast<int>(corner.x), static_cast<int>(corner.y), 0, 0, SWP_NOSIZE);
    const DWORD moveError = moved ? 0 : GetLastError();
    // A window its program hides was moved, and stays hidden as its program wants: nobody sees
    // it at the corner.
    if (moveError != ERROR_INVALID_WINDOW_HANDLE && moveError != ERROR_TIMEOUT && moveError != ERROR_BROKEN_PIPE) {
        if (!IsWindowVisible(window))
            return Report(TitleOf(window) + " is hidden.");
        if (Cloaked(window))
            return Report(TitleOf(window) + " is on another virtual desktop or suspended.");
    }
    if (!moved)
        return Failed(window, moveError);

    // Read back: the window's own program may have changed what the move did.
    RECT after;
    if (!GetWindowRect(window, &after))
        return Failed(window, GetLastError());
    if (after.left != corner.x || after.top != corner.y)
        return Report(TitleOf(window) + " is at (" + std::to_string(after.left) + ", " + std::to_string(after.top) +
                      "), not at " + corner.words + ".");
    // A window maximised before and after fills the free space of its monitor, as large as that
    // is: moved from another monitor, it has the size of the corner's.
    const bool maximised = wasMaximised && IsZoomed(window);
    const LONG width = before.right - before.left, height = before.bottom - before.top;
    if (!maximised && (after.right - after.left != width || after.bottom - after.top != height))
        return Report(TitleOf(window) + " changed size from " + std::to_string(width) + "x" + std::to_string(height) +
                      " to " + std::to_string(after.right - after.left) + "x" +
                      std::to_string(after.bottom - after.top) + ".");
    return 0;
}

int SelectAndPlaceWindow(std::FILE* input)
{
    std::fputs("Select window : ", stdout);
    // Standard output is fully buffered on a pipe: the prompt must be visible before we wait.
    std::fflush(stdout);

    const std::optional<std::int64_t> selection = ReadSelectionNumber(input);
    if (!selection) {
        std::fputs("No number was read.\n", stderr);
        return 1;
    }
    const std::optional<int> entry = CatalogueEntryFor(*selection, static_cast<int>(WindowCatalogue.size()));
    if (!entry) {
        std::fputs("No window is listed with that number.\n", stderr);
        return 1;
    }
    return PlaceWindow(*std::next(WindowCatalogue.begin(), *entry));
}
