// The simulated event manager's wire protocol on <root>/sim/em.sock.
//
// A subscriber keeps one connection open: it says Hello, receives Welcome
// with its id, and from then on reads Event frames on its delivery
// thread. Every other request (Subscribe, Post, Pcm) comes on a connection
// of its own that gets one Reply and is closed, so a request never waits
// behind the events queued for its subscriber.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kvtsim::em {

enum class Kind : std::uint32_t {
    hello = 1,     // a = process id
    welcome = 2,   // a = subscriber id
    subscribe = 3, // a = subscriber id, b = class
    post = 4,      // a = class, b = type, payload = data
    reply = 5,     // a = result
    event = 6,     // a = class, b = type, payload = data
    pcm = 7,       // a = PcmOp, b = argument, payload = optional number text
};

enum class PcmOp : std::int32_t {
    state = 1, // b = new state
    shutdown = 3,
    reset = 4,
    heartbeat = 2, // payload: the number, or empty for the PCM's next one
};

struct Header {
    std::uint32_t kind = 0;
    std::int32_t a = 0;
    std::int32_t b = 0;
    std::uint32_t length = 0;
};

inline constexpr std::uint32_t kMaxPayload = 1u << 20;

// Socket path of the event manager of the current root.
std::string socket_path();

// Blocking helpers on a connected stream socket; false on any failure.
bool send_frame(int fd, Kind kind, std::int32_t a, std::int32_t b, std::string_view payload);
bool read_frame(int fd, Header &header, std::string &payload);

// A connection to the event manager, or -1 when none runs.
int connect_socket();

// One request on a connection of its own; the Reply's result, or -1 when
// no event manager answers.
int request(Kind kind, std::int32_t a, std::int32_t b, std::string_view payload);

} // namespace kvtsim::em
