// The command line: nothing but --help and --version, each answered on standard output before
// any desktop is reached.
#include "command_line.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "window_system/title.h"
#include "window_system/window_system.h"

namespace {

constexpr const char* Help = "Usage: topleft [--help | --version]\n"
                             "\n"
                             "Lists the titled top-level windows of the desktop, numbered from 0, asks\n"
                             "\"Select window : \" and reads one number from standard input. The window listed\n"
                             "with that number moves to the top-left corner of the space the panels leave\n"
                             "on its monitor, on top of the other windows, keeping its size; topleft reads\n"
                             "back that it is there before it says so.\n"
                             "\n"
                             "Desktops: Windows; X11 under any window manager (i3 through its IPC as well);\n"
                             "sway; KDE Plasma on Wayland (KWin scripts over the session bus); GNOME on\n"
                             "Wayland with topleft's GNOME Shell extension (topleft@example.org); labwc and\n"
                             "the Wayland compositors that offer the wlr foreign-toplevel protocol, where a\n"
                             "native window is brought to the top but no program may place it.\n"
                             "\n"
                             "Exit status:\n"
                             "  0  the chosen window is shown at the corner, as large as it was, on top\n"
                             "  1  no window was chosen, or the move did not wholly happen: one line on\n"
                             "     standard error says what happened\n"
                             "  2  an argument topleft does not take\n";

} // namespace

std::optional<int> AnswerCommandLine(int argc, char** argv)
{
    bool help = false, version = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            help = true;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            version = true;
        } else {
            // The argument is written as a title is on a terminal: never a control.
            std::fprintf(stderr, "topleft: unknown argument %s (topleft --help says what topleft takes).\n",
                         QuotedTitle(argv[i], CharsetOf(GetConsoleOutputCP())).c_str());
            return 2;
        }
    }
    if (help)
        std::fputs(Help, stdout);
    else if (version)
        std::printf("topleft %s\n", TOPLEFT_VERSION);
    else
        return std::nullopt;
    return 0;
}
