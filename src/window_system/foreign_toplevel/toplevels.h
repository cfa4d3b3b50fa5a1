// What the parts of the foreign-toplevel backend share: the connection to the compositor, the
// toplevels it announced, each named by a handle for the whole run, and the bounded wait for its
// events.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "window_system/backends.h"
#include "window_system/foreign_toplevel/protocol.h"
#include "window_system/window_system.h"

namespace foreign_toplevel {

using Clock = std::chrono::steady_clock;

// How long the compositor may take over any one answer.
constexpr std::chrono::milliseconds Patience{2000};

// A toplevel as the compositor last told it whole (its done event).
struct Toplevel {
    Handle* handle = nullptr;
    std::string title, appId; // UTF-8
    bool activated = false, minimised = false, maximised = false;
    bool told = false; // a done event has come
    bool closed = false;
    // What has come since the last done event.
    std::optional<std::string> newTitle, newAppId;
    std::optional<std::vector<std::uint32_t>> newStates;
};

// A sync asked of the compositor: done once all it had to tell before has come.
struct Sync {
    wl_proxy* callback = nullptr;
    bool done = false;
};

struct Session {
    wl_display* display = nullptr;
    wl_proxy* registry = nullptr;
    Manager* manager = nullptr;
    wl_proxy* seat = nullptr;
    std::uint32_t managerName = 0, managerVersion = 0, seatName = 0;
    bool finished = false; // the compositor stopped sending toplevels
    std::string compositor; // its name, as a message gives it
    // In the order the compositor announced them; a handle is an index here plus one.
    std::vector<std::unique_ptr<Toplevel>> toplevels;
    bool x11 = false; // XWayland's display is reached too
    std::unique_ptr<Sync> told; // asked on binding the manager: its answer follows the toplevels
};
extern Session Desk;

// Waits for the compositor's events until `reached` holds or `until` passes; FALSE, with the reason
// in the last error, when the connection broke or the time ran out first.
BOOL Await(const std::function<bool()>& reached, Clock::time_point until);
// A sync asked for now, and sent; its answer awaited, with what the compositor tells before it
// (FALSE as Await gives it).
std::unique_ptr<Sync> AskSync();
BOOL AwaitSync(std::unique_ptr<Sync> sync);
// Everything the compositor has to tell, read: its answer to a sync asked for now.
BOOL Roundtrip();

// A handle names a toplevel by its place, or an X11 window of XWayland that stands for none (a
// window that takes no focus, which compositors leave out) by its X11 handle with this bit set.
constexpr std::uintptr_t X11Only = std::uintptr_t{1} << 40;
HWND HandleOf(std::size_t index);
// The toplevel a handle names; nullptr for a handle no listing gave, or an X11 window's.
Toplevel* Find(HWND handle);
// The X11 window a handle of an X11 window names; nullptr for a toplevel's.
HWND X11WindowOf(HWND handle);

// Whether the X11 window may stand for the toplevel: the same title, as listings give it, and
// the same program (the compositor names an X11 window's by its WM_CLASS).
bool Names(const x11::Named& window, const Toplevel& toplevel);

// What the toplevel is on X11: the X11 window of XWayland it stands for, none (a native window),
// or more than one that could be it.
struct Match {
    enum Kind { Native, X11, Ambiguous } kind = Native;
    HWND window = nullptr;
};
Match MatchOf(const Toplevel& toplevel);

} // namespace foreign_toplevel
