// A client of the i3 IPC protocol, which i3 (on X11) and sway (on Wayland) both speak: a Unix
// socket carrying messages of a magic string, a length, a type and a JSON payload. Every exchange
// is bounded in time: a window manager that stops answering cannot hold the program up.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace i3ipc {

constexpr std::uint32_t RunCommand = 0;
constexpr std::uint32_t GetWorkspaces = 1;
constexpr std::uint32_t Subscribe = 2;
constexpr std::uint32_t GetOutputs = 3;
constexpr std::uint32_t GetTree = 4;
constexpr std::uint32_t GetVersion = 7;
// Events carry their type with this bit set.
constexpr std::uint32_t Event = 0x80000000U;

struct Message {
    std::uint32_t type;
    std::string payload; // UTF-8, with room after it for a JSON parser's padding
};

class Connection {
public:
    // Connects to the socket at path; empty when nothing answers there.
    static std::optional<Connection> Open(const std::string& path);

    Connection(Connection&& other) noexcept;
    Connection& operator=(Connection&& other) noexcept;
    Connection(const Connection&) = delete;
    ~Connection();

    // Sends one message and returns the reply's payload; empty when the reply does not come whole
    // within timeoutMs or is not the reply to this message.
    std::optional<std::string> Ask(std::uint32_t type, std::string_view payload, int timeoutMs);
    // The next message that arrives within timeoutMs, a reply or an event; empty when none came
    // whole.
    std::optional<Message> Receive(int timeoutMs);

private:
    explicit Connection(int socket)
        : socket_(socket)
    {
    }
    bool Send(std::uint32_t type, std::string_view payload, int timeoutMs);
    int socket_;
};

// A workspace on show: its output's name and the rectangle it leaves its windows (the output less
// the bars).
struct ShownWorkspace {
    std::string output;
    int x, y, width, height;
};
// The workspaces on show, one an output; empty where the answer does not come within timeoutMs or
// cannot be read.
std::vector<ShownWorkspace> ShownWorkspaces(Connection& ipc, int timeoutMs);

// The first error in the reply to RUN_COMMAND (a JSON array of one result per command); empty
// when every command succeeded. A reply that cannot be read is an error of its own.
std::string CommandError(std::string_view reply);

} // namespace i3ipc
