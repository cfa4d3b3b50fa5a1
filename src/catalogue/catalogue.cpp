// Fills the catalogue and prints the listing, one line per titled window, as the window system
// enumerates them. The catalogue lives in static storage; its destructor frees it at exit.
#include "catalogue/catalogue.h"

#include <cstdio>

std::list<HWND> WindowCatalogue;
int ListedWindowCount;

BOOL CALLBACK CatalogueWindowProc(HWND window, LPARAM /*context*/)
{
    char title[128];
    title[0] = '\0'; // a fetch that fails may leave the buffer untouched: count it as untitled
    GetWindowTextA(window, title, sizeof title);
    if (title[0] == '\0')
        return TRUE;

    WindowCatalogue.push_back(window);
    std::printf("Window[%d]: %s\n", ListedWindowCount, title);
    ++ListedWindowCount;
    return TRUE;
}
