// A Windows test program for the end-to-end tests under Wine.
//   wine_desktop serve   opens the test windows, prints "ready", and keeps them until its
//                        standard input closes; a line "close TITLE" on it destroys the windows
//                        of that title and answers "closed"; a line "hang" makes the thread of
//                        the window "Fixture hung" stop taking messages and answers "hung".
//                        "Fixture refuses" refuses every move (WM_WINDOWPOSCHANGING) and
//                        "Fixture shifts" lands 12 pixels right and 40 down of where it is put;
//                        "Fixture stays under" raises "Fixture partner" over itself whenever it
//                        is raised;
//                        "Fixture seen then minimised" is shown, then minimised
//   wine_desktop enum    prints user32's own enumeration of titled top-level windows, in the
//                        listing's format
//   wine_desktop state   prints, for each titled top-level window in enumeration order, its
//                        handle, visibility, minimised state, rectangle and title, tab-separated
//   wine_desktop around COMMAND
//                        prints the console's output code page (0 without a console), runs
//                        COMMAND in this console, then prints the code page again on a line of
//                        its own
// Titles are printed as topleft lists them: UTF-8, cut between characters at 127 bytes.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Listed;

// A window's title as topleft lists it: UTF-8, at most 127 bytes, cut between characters.
std::string TitleOf(HWND window)
{
    wchar_t wide[512] = L"";
    GetWindowTextW(window, wide, 512);
    char utf8[2048];
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, nullptr, nullptr);
    std::string title(utf8, length > 0 ? static_cast<std::size_t>(length - 1) : 0);
    if (title.size() > 127) {
        std::size_t cut = 127;
        while (cut > 0 && (static_cast<unsigned char>(title[cut]) & 0xC0) == 0x80)
            --cut;
        title.resize(cut);
    }
    return title;
}

BOOL CALLBACK PrintTitled(HWND window, LPARAM)
{
    const std::string title = TitleOf(window);
    if (!title.empty())
        std::printf("Window[%d]: %s\n", Listed++, title.c_str());
    return TRUE;
}

BOOL CALLBACK PrintState(HWND window, LPARAM)
{
    const std::string title = TitleOf(window);
    RECT r{};
    GetWindowRect(window, &r);
    if (!title.empty())
        std::printf("%llu\t%d\t%d\t%ld\t%ld\t%ld\t%ld\t%s\n",
                    static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)),
                    IsWindowVisible(window) ? 1 : 0, IsIconic(window) ? 1 : 0, r.left, r.top, r.right, r.bottom,
                    title.c_str());
    return TRUE;
}

// Runs a program in this program's console, with its standard handles, and prints the console's
// output code page before and after.
int Around(char* command)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::printf("%u\n", GetConsoleOutputCP());
    std::fflush(stdout);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        return 1;
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::printf("\n%u\n", GetConsoleOutputCP());
    return 0;
}

// Refuses every move: the position asked for is taken back before it happens.
LRESULT CALLBACK RefusingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_WINDOWPOSCHANGING)
        reinterpret_cast<WINDOWPOS*>(lParam)->flags |= SWP_NOMOVE;
    return DefWindowProcA(window, message, wParam, lParam);
}

// Lands a little off wherever it is put.
LRESULT CALLBACK ShiftingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_WINDOWPOSCHANGING) {
        auto* position = reinterpret_cast<WINDOWPOS*>(lParam);
        if (!(position->flags & SWP_NOMOVE)) {
            position->x += 12;
            position->y += 40;
        }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Never left on top: whenever it is raised, it raises "Fixture partner" over itself at once, before
// the call that raised it returns.
HWND Partner;
LRESULT CALLBACK StayingUnderWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_WINDOWPOSCHANGED && !(reinterpret_cast<WINDOWPOS*>(lParam)->flags & SWP_NOZORDER) && Partner)
        SetWindowPos(Partner, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return DefWindowProcA(window, message, wParam, lParam);
}

DWORD HungThread;
HANDLE HungWindowOpen;

// The thread of "Fixture hung": takes messages until told to hang, then never again.
DWORD WINAPI HangingThread(LPVOID)
{
    CreateWindowExA(0, "WineDesktopFixture", "Fixture hung", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 380, 290, 210, 120,
                    nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    SetEvent(HungWindowOpen);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.hwnd == nullptr && message.message == WM_APP + 1) {
            std::printf("hung\n");
            std::fflush(stdout);
            for (;;)
                Sleep(INFINITE);
        }
        DispatchMessageA(&message);
    }
    return 0;
}

// Windows belong to the main thread, so commands read here are posted to it.
DWORD WINAPI ReadCommands(LPVOID mainThread)
{
    const DWORD owner = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(mainThread));
    char line[256];
    while (std::fgets(line, sizeof line, stdin)) {
        line[std::strcspn(line, "\r\n")] = '\0';
        if (std::strncmp(line, "close ", 6) == 0)
            PostThreadMessageA(owner, WM_APP, 0, reinterpret_cast<LPARAM>(new std::string(line + 6)));
        else if (std::strcmp(line, "hang") == 0)
            PostThreadMessageA(HungThread, WM_APP + 1, 0, 0);
    }
    PostThreadMessageA(owner, WM_QUIT, 0, 0);
    return 0;
}

void Close(const std::string* title)
{
    while (HWND window = FindWindowA("WineDesktopFixture", title->c_str()))
        DestroyWindow(window);
    delete title;
    std::printf("closed\n");
    std::fflush(stdout);
}

HWND Open(const std::string& title, int x, int y, int width, int height, int show,
          const char* windowClass = "WineDesktopFixture")
{
    HWND window = CreateWindowExA(0, windowClass, title.c_str(), WS_OVERLAPPEDWINDOW, x, y, width, height, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
    if (show >= 0)
        ShowWindow(window, show);
    return window;
}

int Serve()
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "WineDesktopFixture";
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    RegisterClassA(&windowClass);
    windowClass.lpfnWndProc = RefusingWindowProc;
    windowClass.lpszClassName = "WineDesktopRefusing";
    RegisterClassA(&windowClass);
    windowClass.lpfnWndProc = ShiftingWindowProc;
    windowClass.lpszClassName = "WineDesktopShifting";
    RegisterClassA(&windowClass);
    windowClass.lpfnWndProc = StayingUnderWindowProc;
    windowClass.lpszClassName = "WineDesktopStayingUnder";
    RegisterClassA(&windowClass);

    Open("Fixture visible A", 200, 150, 320, 240, SW_SHOWNORMAL);
    Open("Fixture visible B", 260, 190, 300, 210, SW_SHOWNORMAL);
    Open("", 300, 220, 200, 100, SW_SHOWNORMAL);
    Open("Fixture hidden", 120, 90, 250, 150, -1);
    Open("Fixture minimised", 150, 110, 260, 170, SW_SHOWMINNOACTIVE);
    Open(std::string("Fixture long 127 ") + std::string(110, 'x'), 330, 240, 200, 120, SW_SHOWNOACTIVATE);
    Open(std::string("Fixture long 200 ") + std::string(183, 'y'), 340, 250, 200, 120, SW_SHOWNOACTIVATE);
    Open("Fixture 100% %s %n %d", 350, 260, 220, 130, SW_SHOWNOACTIVATE);
    // Titles beyond code page 1252, set as wide text.
    SetWindowTextW(Open("wide", 355, 265, 220, 130, SW_SHOWNOACTIVATE), L"Fixture wide Caf\u00e9 \u2615 \u0416");
    SetWindowTextW(Open("wide", 356, 266, 220, 130, SW_SHOWNOACTIVATE),
                   (L"Fixture wide long " + std::wstring(60, L'\u0416')).c_str());
    Open("Fixture \x1b[31mred\x1b[0m \x07", 357, 267, 220, 130, SW_SHOWNOACTIVATE);
    Open("Fixture twin", 360, 270, 230, 140, SW_SHOWNOACTIVATE);
    Open("Fixture twin", 370, 280, 240, 150, SW_SHOWNOACTIVATE);
    Open("Fixture refuses", 390, 300, 250, 160, SW_SHOWNOACTIVATE, "WineDesktopRefusing");
    Open("Fixture shifts", 400, 310, 260, 170, SW_SHOWNOACTIVATE, "WineDesktopShifting");
    Partner = Open("Fixture partner", 100, 100, 150, 100, SW_SHOWNOACTIVATE); // over the corner
    Open("Fixture stays under", 410, 320, 270, 180, SW_SHOWNOACTIVATE, "WineDesktopStayingUnder");
    ShowWindow(Open("Fixture seen then minimised", 420, 330, 280, 190, SW_SHOWNORMAL), SW_MINIMIZE);
    HungWindowOpen = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CreateThread(nullptr, 0, HangingThread, nullptr, 0, &HungThread);
    WaitForSingleObject(HungWindowOpen, INFINITE);

    const DWORD self = GetCurrentThreadId();
    CreateThread(nullptr, 0, ReadCommands, reinterpret_cast<LPVOID>(static_cast<UINT_PTR>(self)), 0, nullptr);
    std::printf("ready\n");
    std::fflush(stdout);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.hwnd == nullptr && message.message == WM_APP) {
            Close(reinterpret_cast<const std::string*>(message.lParam));
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // Plain line feeds, like the Unix side of the pipe expects.
    _setmode(_fileno(stdout), _O_BINARY);
    const char* mode = argc > 1 ? argv[1] : "";
    if (std::strcmp(mode, "serve") == 0)
        return Serve();
    if (std::strcmp(mode, "enum") == 0)
        EnumWindows(PrintTitled, 0);
    else if (std::strcmp(mode, "state") == 0)
        EnumWindows(PrintState, 0);
    else if (std::strcmp(mode, "around") == 0 && argc > 2)
        return Around(argv[2]);
    else if (std::strcmp(mode, "warm-up") != 0) {
        std::fprintf(stderr, "usage: wine_desktop serve|enum|state|around COMMAND|warm-up\n");
        return 2;
    }
    return 0;
}
