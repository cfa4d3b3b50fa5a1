// The window catalogue: one entry per listed window, in the order the window system enumerated
// them, so that entry k is the window printed with the number k.
#pragma once

#include <list>
#include <memory_resource>

#include "window_system/window_system.h"

// Its entries come from one pool that grows in blocks as the listing goes on and is given back
// whole at exit.
extern std::pmr::list<HWND> WindowCatalogue;
extern int ListedWindowCount;

// Enumeration callback: lists and stores every window whose title is not empty.
BOOL CALLBACK CatalogueWindowProc(HWND window, LPARAM context);
