// Every wait for the X server is bounded. libxcb's reads and writes have no time limit of their
// own, and a server that stops answering (another client holding a grab, a stopped server) would
// hold them for good. So while topleft waits for the server, a watchdog thread looks on: once the
// server has given no answer for Bound, it shuts the connection for reading, which ends libxcb's
// wait with an error; every later request fails at once, and the call that waited says the server
// did not answer. Before the connection exists there is nothing to shut: the run ends there.
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "window_system/x11/display.h"

namespace x11 {

namespace {

constexpr std::chrono::milliseconds Tick{250};
constexpr int BoundTicks = 16; // 4 seconds

std::atomic<int> Depth{0}; // how many Waiting are alive
std::atomic<unsigned> Progress{0}; // bumped by every answer read
std::atomic<int> Socket{-1};
std::atomic<bool> GaveUp{false};
char Unanswered[160]; // the line for a server that does not even take the connection

void GiveUp()
{
    GaveUp = true;
    const int socket = Socket;
    if (socket >= 0) {
        shutdown(socket, SHUT_RD);
        return;
    }
    // Still connecting, deep in libxcb, with nothing printed yet.
    const ssize_t written = write(STDERR_FILENO, Unanswered, std::strlen(Unanswered));
    static_cast<void>(written);
    _exit(1);
}

void Watch()
{
    unsigned seen = Progress;
    int still = 0;
    for (;;) {
        std::this_thread::sleep_for(Tick);
        const unsigned now = Progress;
        still = Depth > 0 && now == seen ? still + 1 : 0;
        seen = now;
        if (still >= BoundTicks && !GaveUp)
            GiveUp();
    }
}

} // namespace

Waiting::Waiting()
{
    static std::once_flag started;
    std::call_once(started, [] {
        const char* display = std::getenv("DISPLAY");
        const std::string line = "topleft: the X server" +
            (display && *display ? " at " + std::string(display) : std::string()) + " did not answer.\n";
        std::strncpy(Unanswered, line.c_str(), sizeof Unanswered - 1);
        std::thread(Watch).detach();
    });
    ++Depth;
    ++Progress;
}

Waiting::~Waiting() { --Depth; }

void Answered() { ++Progress; }

void Watched(xcb_connection_t* connection) { Socket = xcb_get_file_descriptor(connection); }

bool Silent(Display& x) { return GaveUp || xcb_connection_has_error(x.connection); }

} // namespace x11
