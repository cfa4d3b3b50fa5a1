// The second phase: one prompt, one number, one move. Nothing is retried and nothing the window
// system answers changes the outcome: a window that closed since it was listed stays closed.
#include "placement/placement.h"

#include <cctype>
#include <climits>
#include <iterator>

#include "catalogue/catalogue.h"

std::optional<std::int64_t> ReadSelectionNumber(std::FILE* input)
{
    int c = std::getc(input);
    while (c != EOF && std::isspace(c))
        c = std::getc(input);

    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        c = std::getc(input);
    }

    // Any magnitude past this one is outside the 32-bit range in both directions.
    constexpr std::int64_t Saturated = std::int64_t{INT_MAX} + 2;
    std::int64_t magnitude = 0;
    bool anyDigit = false;
    while (c != EOF && std::isdigit(c)) {
        anyDigit = true;
        if (magnitude < Saturated)
            magnitude = magnitude * 10 + (c - '0');
        c = std::getc(input);
    }
    if (c != EOF)
        std::ungetc(c, input);

    if (!anyDigit)
        return std::nullopt;
    if (magnitude > Saturated)
        magnitude = Saturated;
    return negative ? -magnitude : magnitude;
}

std::optional<int> CatalogueEntryFor(std::int64_t selection, int entryCount)
{
    if (entryCount <= 0 || selection >= entryCount)
        return std::nullopt;
    return selection < 0 ? 0 : static_cast<int>(selection);
}

int SelectAndPlaceWindow(std::FILE* input)
{
    std::fputs("Select window : ", stdout);
    // Standard output is fully buffered on a pipe: the prompt must be visible before we wait.
    std::fflush(stdout);

    const std::optional<std::int64_t> selection = ReadSelectionNumber(input);
    if (!selection) {
        std::fputs("No number was read.\n", stderr);
        return 1;
    }
    const std::optional<int> entry = CatalogueEntryFor(*selection, static_cast<int>(WindowCatalogue.size()));
    if (!entry) {
        std::fputs("No window is listed with that number.\n", stderr);
        return 1;
    }

    const HWND chosen = *std::next(WindowCatalogue.begin(), *entry);
    SetWindowPos(chosen, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE);
    return 0;
}
