// Selection and placement: prompt, read one number, find that catalogue entry and move its
// window to the top-left corner of the screen and to the top of the stacking order.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>

// Reads one integer the way "%d" does (white space skipped, optional sign, decimal digits, the
// first other character left unread) but without its undefined overflow: a value beyond the
// signed 32-bit range saturates to a value just beyond it, so it can never wrap onto a real entry.
// Empty when no digit was read.
std::optional<std::int64_t> ReadSelectionNumber(std::FILE* input);

// The catalogue entry a selection number names: a negative number names entry 0, as the walk from
// the first entry does; a number not less than the entry count names none.
std::optional<int> CatalogueEntryFor(std::int64_t selection, int entryCount);

// Prompts on standard output, reads the selection from input and moves the chosen window.
// Returns the process exit status: 0 once a listed window was chosen (whether or not the window
// system could still move it), 1 with one line on standard error when none was.
int SelectAndPlaceWindow(std::FILE* input);
