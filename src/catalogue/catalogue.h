// The window catalogue: one entry per listed window, in the order the window system enumerated
// them, so that entry k is the window printed with the number k.
#pragma once

#include <list>

#include "window_system/window_system.h"

extern std::list<HWND> WindowCatalogue;
extern int ListedWindowCount;

// Enumeration callback: lists and stores every window whose title is not empty.
BOOL CALLBACK CatalogueWindowProc(HWND window, LPARAM context);
