// The GNOME backend's move: the extension moves the frame (Mutter's constraints apply, as to any
// program's request), shows, raises and focuses the window; then the listing is read again until
// the window is where it was asked, its size kept, focused and on top, within one time bound (an
// X11 window takes the focus in its own time).
#include <thread>

#include "window_system/backends.h"
#include "window_system/gnome/shell.h"
#include "window_system/last_error.h"
#include "window_system/title.h"

namespace gnome {

namespace {

constexpr std::chrono::milliseconds Patience{1500};
constexpr std::chrono::milliseconds Between{20};

// The size asked for; for a window maximised from the start, any while it stays so: moved to
// another monitor, it fills that one's free space.
struct Size {
    int width, height;
    bool maximised;
    bool Kept(const Window& window) const
    {
        return (maximised && window.maximised) || (window.width == width && window.height == height);
    }
};

bool Reached(const Window& window, int x, int y, const Size& size)
{
    return window.x == x && window.y == y && size.Kept(window) && !window.minimised && window.focused &&
        !Last.Covering(window);
}

// What is off, in the words of the message.
std::string Account(const Window& window, int x, int y, const Size& size)
{
    if (window.minimised)
        return "GNOME Shell kept it minimised";
    if (window.x != x || window.y != y)
        return "GNOME Shell kept it at (" + std::to_string(window.x) + ", " + std::to_string(window.y) + ")";
    if (!size.Kept(window))
        return "GNOME Shell made it " + std::to_string(window.width) + "x" + std::to_string(window.height) +
            " instead of " + std::to_string(size.width) + "x" + std::to_string(size.height);
    if (!window.focused)
        return "GNOME Shell did not focus it";
    const Window* above = Last.Covering(window);
    return "GNOME Shell kept " +
        (above ? QuotedTitle(above->title.c_str(), CharsetOf(GetConsoleOutputCP())) : "another window") + " above it";
}

} // namespace

BOOL SetWindowPos(HWND hWnd, HWND /*hWndInsertAfter*/, int X, int Y, int cx, int cy, UINT uFlags)
{
    const std::uint64_t id = IdOf(hWnd);
    // The size it has now is the size it keeps: the listing may be older than that.
    const Desk* desk = Recent();
    if (!desk)
        return FALSE;
    const Window* before = desk->Find(id);
    if (!before)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    const Size size{(uFlags & SWP_NOSIZE) ? before->width : cx, (uFlags & SWP_NOSIZE) ? before->height : cy,
                    before->maximised};

    std::optional<Window> window = Move(id, X, Y);
    // Mutter places a frame at once, within its constraints: a place other than the one asked
    // for is where the window stays. The focus may come later (an X11 program takes it), and the
    // frame of a maximised window sent to another monitor.
    if (window && !size.maximised && (window->x != X || window->y != Y))
        return Fail(ERROR_ACCESS_DENIED, Account(*window, X, Y, size));
    const Clock::time_point deadline = Clock::now() + Patience;
    while (window && !Reached(*window, X, Y, size) && Clock::now() < deadline) {
        std::this_thread::sleep_for(Between);
        if (!List())
            return FALSE;
        const Window* seen = Last.Find(id);
        if (!seen)
            return Fail(ERROR_INVALID_WINDOW_HANDLE);
        window = *seen;
    }
    if (!window)
        return FALSE;
    if (!Reached(*window, X, Y, size))
        return Fail(ERROR_ACCESS_DENIED, Account(*window, X, Y, size));
    return TRUE;
}

} // namespace gnome
