// The i3 IPC wire format: "i3-ipc", then the payload's length and the message type as 32-bit
// integers in the machine's own byte order, then the payload. Replies carry the request's type;
// events (high bit set) are never asked for here.
#include "window_system/i3/ipc.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include <simdjson.h>

#include "window_system/title.h"

namespace i3ipc {

namespace {

constexpr char Magic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr std::size_t HeaderSize = sizeof Magic + 8;
// The tree of a large session is megabytes; a reply past this is not one we can use.
constexpr std::uint32_t LargestReply = 256U << 20;

using Clock = std::chrono::steady_clock;

// Waits until the socket is ready for `events` or the deadline passes.
bool Ready(int socket, short events, Clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left < 0)
            return false;
        pollfd ready{socket, events, 0};
        const int result = poll(&ready, 1, static_cast<int>(left));
        if (result > 0)
            return (ready.revents & events) != 0;
        if (result == 0 || errno != EINTR)
            return false;
    }
}

bool WriteAll(int socket, const char* data, std::size_t size, Clock::time_point deadline)
{
    while (size > 0) {
        if (!Ready(socket, POLLOUT, deadline))
            return false;
        const ssize_t written = send(socket, data, size, MSG_NOSIGNAL);
        if (written < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool ReadAll(int socket, char* data, std::size_t size, Clock::time_point deadline)
{
    while (size > 0) {
        if (!Ready(socket, POLLIN, deadline))
            return false;
        const ssize_t got = recv(socket, data, size, 0);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            return false;
        data += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

} // namespace

std::optional<Connection> Connection::Open(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return std::nullopt;
    std::memcpy(address.sun_path, path.data(), path.size());
    const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socket < 0)
        return std::nullopt;
    // A Unix socket connects at once or not at all.
    if (connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(socket);
        return std::nullopt;
    }
    return Connection(socket);
}

Connection::Connection(Connection&& other) noexcept
    : socket_(other.socket_)
{
    other.socket_ = -1;
}

Connection& Connection::operator=(Connection&& other) noexcept
{
    std::swap(socket_, other.socket_);
    return *this;
}

Connection::~Connection()
{
    if (socket_ >= 0)
        close(socket_);
}

bool Connection::Send(std::uint32_t type, std::string_view payload, int timeoutMs)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char header[HeaderSize];
    const auto length = static_cast<std::uint32_t>(payload.size());
    std::memcpy(header, Magic, sizeof Magic);
    std::memcpy(header + sizeof Magic, &length, 4);
    std::memcpy(header + sizeof Magic + 4, &type, 4);
    return WriteAll(socket_, header, sizeof header, deadline) &&
        WriteAll(socket_, payload.data(), payload.size(), deadline);
}

namespace {

// Text that is not UTF-8 made so (title.h): sway passes on the title bytes an X11 program gave,
// and a JSON parser refuses the whole answer for one string that is not UTF-8.
void MakeUtf8(std::string& text)
{
    if (!simdjson::validate_utf8(text.data(), text.size()))
        text = Utf8Text(text);
}

} // namespace

std::optional<Message> Connection::Receive(int timeoutMs)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char header[HeaderSize];
    if (!ReadAll(socket_, header, sizeof header, deadline))
        return std::nullopt;
    std::uint32_t length = 0;
    Message message{};
    std::memcpy(&length, header + sizeof Magic, 4);
    std::memcpy(&message.type, header + sizeof Magic + 4, 4);
    if (std::memcmp(header, Magic, sizeof Magic) != 0 || length > LargestReply)
        return std::nullopt;
    message.payload.reserve(length + simdjson::SIMDJSON_PADDING);
    message.payload.resize(length);
    if (!ReadAll(socket_, message.payload.data(), length, deadline))
        return std::nullopt;
    MakeUtf8(message.payload);
    return message;
}

std::optional<std::string> Connection::Ask(std::uint32_t type, std::string_view payload, int timeoutMs)
{
    if (!Send(type, payload, timeoutMs))
        return std::nullopt;
    std::optional<Message> reply = Receive(timeoutMs);
    if (!reply || reply->type != type)
        return std::nullopt;
    return std::move(reply->payload);
}

std::vector<ShownWorkspace> ShownWorkspaces(Connection& ipc, int timeoutMs)
{
    std::vector<ShownWorkspace> shown;
    std::optional<std::string> reply = ipc.Ask(GetWorkspaces, "", timeoutMs);
    if (!reply)
        return shown;
    reply->reserve(reply->size() + simdjson::SIMDJSON_PADDING);
    simdjson::dom::parser parser;
    simdjson::dom::array workspaces;
    if (parser.parse(*reply).get_array().get(workspaces))
        return shown;
    for (const simdjson::dom::element workspace : workspaces) {
        bool visible = false;
        std::string_view output;
        std::int64_t r[4] = {};
        const char* keys[4] = {"x", "y", "width", "height"};
        bool read =
            !workspace["visible"].get_bool().get(visible) && visible && !workspace["output"].get_string().get(output);
        for (int i = 0; i < 4 && read; ++i)
            read = !workspace["rect"][keys[i]].get_int64().get(r[i]);
        if (read && r[2] > 0 && r[3] > 0)
            shown.push_back({std::string(output), static_cast<int>(r[0]), static_cast<int>(r[1]),
                             static_cast<int>(r[2]), static_cast<int>(r[3])});
    }
    return shown;
}

std::string CommandError(std::string_view reply)
{
    simdjson::dom::parser parser;
    simdjson::dom::array results;
    if (parser.parse(reply.data(), reply.size()).get_array().get(results))
        return "an unreadable reply";
    for (const simdjson::dom::element result : results) {
        bool success = false;
        if (result["success"].get_bool().get(success) || !success) {
            std::string_view error;
            if (result["error"].get_string().get(error))
                return "a command failed";
            return std::string(error);
        }
    }
    return {};
}

} // namespace i3ipc
