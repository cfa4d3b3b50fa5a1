// Every wait for the X server is bounded. libxcb's reads and writes have no time limit of their
// own, and a server that stops answering (another client holding a grab, a stopped server) would
// hold them for good. So while topleft waits for the server, a watchdog looks on: an interval
// timer's signal, a few times a second. Once the server has given no answer for Bound (counted
// from the start of the wait and from each answer read since), it shuts the connection for
// reading, which ends libxcb's wait with an error (libxcb polls again when a signal interrupts
// it); every later request fails at once, and the call that waited says the server did not
// answer. Before the connection exists there is nothing to shut: the run ends there. The timer
// runs only while topleft waits for the server: the first tick that finds no wait under way
// stops it, so a person reading the list at the prompt is left alone. A signal rather than a
// thread of its own keeps the process single-threaded, and with it the C library's unlocked
// malloc and stdio, which the listing uses for every window.
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "window_system/x11/display.h"

namespace x11 {

namespace {

constexpr long TickMicroseconds = 250000;
constexpr int BoundTicks = 16; // 4 seconds

// Written by the program only, read by the signal handler, which runs on the same thread: plain
// loads and stores suffice, and lock-free atomics are safe to read there.
std::atomic<int> Depth{0}; // how many Waiting are alive
std::atomic<unsigned> Progress{0}; // bumped by every wait begun and every answer read
std::atomic<bool> Ticking{false};
std::atomic<int> Socket{-1};
std::atomic<bool> GaveUp{false};
char Unanswered[160]; // the line for a server that does not even take the connection

void Bump(std::atomic<unsigned>& counter)
{
    counter.store(counter.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

// Only what is safe in a signal handler: shutdown, write, _exit.
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

// Starts or stops the ticks (setitimer is safe in a signal handler).
void SetTicking(bool on)
{
    Ticking.store(on, std::memory_order_relaxed);
    const itimerval every{{0, on ? TickMicroseconds : 0}, {0, on ? TickMicroseconds : 0}};
    setitimer(ITIMER_REAL, &every, nullptr);
}

void Tick(int)
{
    static unsigned seen = 0;
    static int still = 0;
    const int savedErrno = errno;
    const unsigned now = Progress.load(std::memory_order_relaxed);
    const bool waiting = Depth.load(std::memory_order_relaxed) > 0;
    still = waiting && now == seen ? still + 1 : 0;
    seen = now;
    if (!waiting)
        SetTicking(false);
    else if (still >= BoundTicks && !GaveUp)
        GiveUp();
    errno = savedErrno;
}

} // namespace

Waiting::Waiting()
{
    static bool started = false;
    if (!started) {
        started = true;
        const char* display = std::getenv("DISPLAY");
        const std::string line = "topleft: the X server" +
            (display && *display ? " at " + std::string(display) : std::string()) + " did not answer.\n";
        std::strncpy(Unanswered, line.c_str(), sizeof Unanswered - 1);
        // Interrupted reads and writes elsewhere (the number typed, the listing) carry on.
        struct sigaction action { };
        action.sa_handler = Tick;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(SIGALRM, &action, nullptr);
    }
    // Counted in before the timer is looked at: a tick between the two finds a wait under way.
    Depth.store(Depth.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    Bump(Progress);
    if (!Ticking.load(std::memory_order_relaxed))
        SetTicking(true);
}

Waiting::~Waiting() { Depth.store(Depth.load(std::memory_order_relaxed) - 1, std::memory_order_relaxed); }

void Answered() { Bump(Progress); }

void Watched(xcb_connection_t* connection) { Socket = xcb_get_file_descriptor(connection); }

bool Silent(Display& x) { return GaveUp || xcb_connection_has_error(x.connection); }

} // namespace x11
