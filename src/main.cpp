// topleft: lists the titled top-level windows, asks for one by number and moves it to the
// top-left corner of the screen, on top of the others, keeping its size.
#include <cstdio>

#include "catalogue/catalogue.h"
#include "command_line.h"
#include "placement/placement.h"

int main(int argc, char** argv)
{
    if (const std::optional<int> answered = AnswerCommandLine(argc, argv))
        return *answered;
    EnumWindows(CatalogueWindowProc, 0);
    return SelectAndPlaceWindow(stdin);
}
