#include "sim/em/em_protocol.hpp"

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "sim/control.hpp"
#include "sim/root/files.hpp"

namespace kvtsim::em {

std::string socket_path()
{
    return sim_path("em.sock");
}

static bool write_all(int fd, const void *data, std::size_t size)
{
    const auto *bytes = static_cast<const unsigned char *>(data);
    return files::move_all(size, [&](std::size_t done, std::size_t left) {
        return ::send(fd, bytes + done, left, MSG_NOSIGNAL);
    });
}

static bool read_all(int fd, void *data, std::size_t size)
{
    auto *bytes = static_cast<unsigned char *>(data);
    return files::move_all(size, [&](std::size_t done, std::size_t left) {
        return ::recv(fd, bytes + done, left, 0);
    });
}

bool send_frame(int fd, Kind kind, std::int32_t a, std::int32_t b, std::string_view payload)
{
    if (payload.size() > kMaxPayload)
        return false;
    Header header{static_cast<std::uint32_t>(kind), a, b,
                  static_cast<std::uint32_t>(payload.size())};
    unsigned char bytes[sizeof header];
    std::memcpy(bytes, &header, sizeof header);
    return write_all(fd, bytes, sizeof bytes) && write_all(fd, payload.data(), payload.size());
}

bool read_frame(int fd, Header &header, std::string &payload)
{
    unsigned char bytes[sizeof header];
    if (!read_all(fd, bytes, sizeof bytes))
        return false;
    std::memcpy(&header, bytes, sizeof header);
    if (header.length > kMaxPayload)
        return false;
    payload.resize(header.length);
    return read_all(fd, payload.data(), payload.size());
}

int connect_socket()
{
    const std::string path = socket_path();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    // The socket API takes every address family through sockaddr.
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int request(Kind kind, std::int32_t a, std::int32_t b, std::string_view payload)
{
    const int fd = connect_socket();
    if (fd < 0)
        return -1;
    Header header;
    std::string reply;
    const bool answered = send_frame(fd, kind, a, b, payload) && read_frame(fd, header, reply) &&
                          header.kind == static_cast<std::uint32_t>(Kind::reply);
    ::close(fd);
    return answered ? header.a : -1;
}

} // namespace kvtsim::em
