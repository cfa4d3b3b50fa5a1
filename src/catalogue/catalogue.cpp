// Fills the catalogue and prints the listing, one line per titled window, as the window system
// enumerates them. The catalogue lives in static storage; its destructor frees it at exit.
#include "catalogue/catalogue.h"

#include <cstdio>

#include "window_system/title.h"

std::list<HWND> WindowCatalogue;
int ListedWindowCount;

namespace {

// Titles are other programs' text: on a terminal, shown and never obeyed.
bool ListingOnATerminal()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode);
}

} // namespace

BOOL CALLBACK CatalogueWindowProc(HWND window, LPARAM /*context*/)
{
    static bool terminal = false;
    static Charset charset = Charset::Utf8;
    char title[128];
    title[0] = '\0'; // a fetch that fails may leave the buffer untouched: count it as untitled
    GetWindowTextA(window, title, sizeof title);
    if (title[0] == '\0')
        return TRUE;

    // Where the listing goes and the charset a terminal there shows, asked once, with its first
    // line.
    // Through a pipe or into a file it goes out in large writes: stdio's few kilobytes would wake
    // the reader every few dozen lines of a long listing.
    if (ListedWindowCount == 0) {
        terminal = ListingOnATerminal();
        if (terminal)
            charset = CharsetOf(GetConsoleOutputCP());
        static char buffer[1 << 16];
        if (!terminal)
            std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    }
    WindowCatalogue.push_back(window);
    // Most titles need nothing written otherwise: those are printed without a copy.
    std::printf("Window[%d]: %s\n", ListedWindowCount,
                ShownAsItIs(title, terminal, charset) ? title : VisibleTitle(title, terminal, charset).c_str());
    ++ListedWindowCount;
    return TRUE;
}
