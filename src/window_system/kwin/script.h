// What the parts of the KWin backend share: running a script of ours inside KWin, and the
// windows of the last listing, each named by a handle that stands for its KWin id all run long.
#pragma once

#include <simdjson.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "window_system/window_system.h"

namespace kwin {

using Clock = std::chrono::steady_clock;

// How long KWin may take to load, run and answer one script.
constexpr std::chrono::milliseconds Patience{2000};
// How long a listing answers for the desktop: a question asked again at once.
constexpr std::chrono::milliseconds Fresh{100};

// Loads the script under a name of its own, runs it and returns what it called back with (its
// body calls report(answer), which reaches us as JSON text); empty when KWin did not answer in
// time. The script is unloaded and its file removed in any case. The body may use windowList(),
// activeWindow(), activate(w) and windowActivated, which KWin 5.27 and 6 both answer.
std::optional<std::string> RunScript(const std::string& body);

struct Window {
    std::string id; // KWin's internalId, which KWin keeps for the window's whole life
    std::string title;
    int x = 0, y = 0, width = 0, height = 0; // its frame
    bool shown = false; // not minimised, not hidden, on the virtual desktop in view
    bool maximised = false; // both ways
};
// The windows of the last listing, topmost first.
extern std::vector<Window> Listed;
// When Listed was last brought up to date: a question asked again at once is answered from it.
extern Clock::time_point ListedAt;

// Lists every window KWin manages, topmost first, with its frame, into Listed; FALSE, with the
// reason in the last error, when KWin did not answer or answered what cannot be read.
BOOL List();
// Lists again where the last listing is more than a moment old; FALSE as List does.
BOOL ListRecently();
// The handle of the window with this KWin id: the same for the whole run, whatever the desktop
// does, so that the number typed names the window listed with it, not a place in a later list.
HWND HandleOf(const std::string& id);
// KWin's id of the window a handle names; nullptr for a handle no listing gave.
const std::string* IdOf(HWND handle);
// The window a handle names, as the last listing saw it; nullptr when it was not in it.
Window* Find(HWND handle);

// A number of the answer, integer or fractional (KWin 6.7 gives fractional geometry), rounded to
// whole pixels; false for no number at all.
bool Pixels(simdjson::dom::element node, const char* key, int& pixels);
// The frame (x, y, width, height) of an answer into the window's; false where one is no number.
bool ReadFrame(simdjson::dom::element node, Window& window);

// What a KWin that offers neither interface says it lacks; empty for any other answer.
std::string Missing(simdjson::dom::element answer);

} // namespace kwin
