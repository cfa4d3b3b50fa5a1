// Fuzzes the answer to the prompt: a scripted desktop of 0 to 15 windows is listed, then any bytes
// are typed. Checked on every input against strtoll, which reads a decimal integer by the same
// rules: the run moves exactly the window that number names (a negative one names window 0) and
// returns 0, or moves nothing and returns 1; and it reads no further than the number.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../unit/scripted_desktop.h"
#include "catalogue/catalogue.h"
#include "placement/placement.h"

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const int windowCount = data[0] % 16;
    ScriptedDesktop::Reset();
    WindowCatalogue.clear();
    ListedWindowCount = 0;
    std::vector<HWND> windows;
    for (int i = 0; i < windowCount; ++i)
        windows.push_back(ScriptedDesktop::Open("Window " + std::to_string(i), 40, 80));
    EnumWindows(CatalogueWindowProc, 0);
    Require(ListedWindowCount == windowCount);

    const std::string typed(reinterpret_cast<const char*>(data + 1), size - 1);
    std::FILE* input = fmemopen(const_cast<char*>(typed.data()), typed.size(), "r");
    Require(input != nullptr);
    const int status = SelectAndPlaceWindow(input);
    const int next = std::getc(input);
    std::fclose(input);

    char* end = nullptr;
    errno = 0;
    const long long number = std::strtoll(typed.c_str(), &end, 10);
    const bool read = end != typed.c_str();
    const long long entry = number < 0 ? 0 : number;
    const auto& calls = ScriptedDesktop::Calls();
    if (!read || entry >= windowCount) {
        Require(status == 1);
        Require(calls.empty());
    } else {
        Require(status == 0);
        Require(calls.size() == 1);
        Require(calls[0].window == windows[static_cast<std::size_t>(entry)]);
        const ScriptedWindow* moved = ScriptedDesktop::Find(windows[static_cast<std::size_t>(entry)]);
        Require(moved->x == 0 && moved->y == 0 && moved->width == 300 && moved->height == 200);
    }
    if (read) {
        // The first character after the number is still there to be read.
        const std::size_t consumed = static_cast<std::size_t>(end - typed.c_str());
        Require(next == (consumed < typed.size() ? static_cast<unsigned char>(typed[consumed]) : EOF));
    }
    return 0;
}
