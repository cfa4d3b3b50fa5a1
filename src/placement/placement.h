// Selection and placement: prompt, read one number, find that catalogue entry and move its
// window to the top-left corner of the screen and to the top of the stacking order.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>

#include "window_system/window_system.h"

// Reads one integer the way "%d" does (white space skipped, optional sign, decimal digits, the
// first other character left unread) but without its undefined overflow: a value beyond the
// signed 32-bit range saturates to a value just beyond it, so it can never wrap onto a real entry.
// Empty when no digit was read.
std::optional<std::int64_t> ReadSelectionNumber(std::FILE* input);

// The catalogue entry a selection number names: a negative number names entry 0, as the walk from
// the first entry does; a number not less than the entry count names none.
std::optional<int> CatalogueEntryFor(std::int64_t selection, int entryCount);

// Moves the window to the top-left corner (of the desktop, or where no monitor shows that point,
// of the primary monitor) and to the top of the stacking order, keeping its size,
// and reads back where it went. Returns the process exit status: 0 when the window is there, 1
// with one line on standard error saying what happened when it is not.
int PlaceWindow(HWND window);

// Prompts on standard output, reads the selection from input and moves the chosen window.
// Returns the process exit status: 0 when the chosen window is at the corner, on top, as large as
// it was; 1 with one line on standard error when no window was chosen or the move did not happen.
int SelectAndPlaceWindow(std::FILE* input);
