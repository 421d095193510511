// The simulated SP's event manager, with the simulated process-control
// manager (PCM) living in the same process.
//
// Run in the background by "kvtsim em start" for the root in KVT_SP_ROOT.
// It serves <root>/sim/em.sock, writes its pid to <root>/sim/em.pid and
// ends on SIGTERM or when its socket disappears (the root was removed).
//
// The PCM receives class 100 (Initialize and heartbeat replies) and
// records it in <root>/sim/pcm.log; it sends class 101 heartbeats with an
// increasing number every 60 seconds of platform time, and on request a
// state change, a shutdown request or a reset to defaults.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "sim/control.hpp"
#include "sim/em/em_protocol.hpp"
#include "sim/root/files.hpp"

namespace {

using kvtsim::em::Kind;
using kvtsim::em::PcmOp;
using Clock = std::chrono::steady_clock;

constexpr int kPcmProducerClass = 100;
constexpr int kPcmConsumerClass = 101;
constexpr double kHeartbeatSeconds = 60.0;

volatile std::sig_atomic_t stop_requested = 0;

void on_stop(int)
{
    stop_requested = 1;
}

// What may wait for one subscriber that does not read: a few of the
// largest events. Past it new events for that subscriber are dropped, and
// said so, instead of growing the event manager without bound.
constexpr std::size_t kMaxQueuedBytes = std::size_t{4} * kvtsim::em::kMaxPayload;
// Drops said one by one for each subscriber; past these they are only
// counted, and the count said when the subscriber goes, so that one stuck
// subscriber cannot fill the disk with sim/em.stderr.
constexpr unsigned long kDropLines = 10;

struct Connection {
    int fd = -1;
    std::int32_t subscriber_id = 0; // 0: a one-request connection
    std::int32_t pid = 0;           // the subscriber's process
    std::set<int> classes;
    std::string in;
    std::string out;
    bool close_when_sent = false;
    bool broken = false;
    unsigned long dropped = 0;
};

std::string frame_bytes(Kind kind, std::int32_t a, std::int32_t b, std::string_view payload)
{
    kvtsim::em::Header header{static_cast<std::uint32_t>(kind), a, b,
                              static_cast<std::uint32_t>(payload.size())};
    std::string bytes(sizeof header, '\0');
    std::memcpy(bytes.data(), &header, sizeof header);
    bytes.append(payload);
    return bytes;
}

double time_scale()
{
    const char *text = std::getenv(kvtsim::kTimeScaleEnv);
    if (text == nullptr)
        return 1.0;
    const double scale = std::strtod(text, nullptr);
    return scale > 0 ? scale : 1.0;
}

class Pcm {
  public:
    explicit Pcm(double scale)
        : period_(std::chrono::duration_cast<Clock::duration>(
              std::chrono::duration<double>(kHeartbeatSeconds * scale))),
          next_(Clock::now() + period_)
    {
    }

    void receive(int type, std::string_view data)
    {
        const std::string text(data.substr(0, data.find('\0')));
        const std::string path = kvtsim::sim_path("pcm.log");
        if (type == 1)
            kvtsim::files::append_line(path, "initialize " + text);
        else if (type == 2)
            kvtsim::files::append_line(path, "heartbeat " + text);
        else
            kvtsim::files::append_line(path, "type " + std::to_string(type) + " " + text);
    }

    // The heartbeat text for `number`, or for the next of its own count.
    std::string heartbeat(std::string_view number)
    {
        next_ = Clock::now() + period_;
        if (!number.empty())
            return std::string(number);
        return std::to_string(++count_);
    }

    bool heartbeat_due() const { return Clock::now() >= next_; }

    int millis_to_heartbeat() const
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(next_ - Clock::now()).count();
        return left < 0 ? 0 : static_cast<int>(left);
    }

    static void store_state(int state)
    {
        kvtsim::files::replace(kvtsim::sim_path("system_state"), std::to_string(state) + "\n");
    }

  private:
    Clock::duration period_;
    Clock::time_point next_;
    unsigned long count_ = 0;
};

class Server {
  public:
    Server(int listener, Pcm &pcm) : listener_(listener), pcm_(pcm) {}

    void run()
    {
        while (!stop_requested && socket_still_there()) {
            if (pcm_.heartbeat_due())
                post_pcm(2, pcm_.heartbeat({}));
            poll_once();
        }
    }

  private:
    void poll_once()
    {
        std::vector<pollfd> fds{{listener_, POLLIN, 0}};
        for (const Connection &c : connections_)
            fds.push_back({c.fd, static_cast<short>(POLLIN | (c.out.empty() ? 0 : POLLOUT)), 0});
        // Wake at least once a second to notice a removed root.
        const int timeout = std::min(pcm_.millis_to_heartbeat(), 1000);
        if (::poll(fds.data(), fds.size(), timeout) <= 0)
            return;
        if (fds[0].revents & POLLIN)
            accept_one();
        for (std::size_t i = 1; i < fds.size(); ++i)
            service(connections_[i - 1], fds[i].revents);
        std::erase_if(connections_, [](const Connection &c) {
            if (!c.broken && !(c.close_when_sent && c.out.empty()))
                return false;
            if (c.dropped > kDropLines)
                std::fprintf(stderr, "kvtsim-em: subscriber %d (pid %d) left: %lu events dropped\n",
                             c.subscriber_id, c.pid, c.dropped);
            ::close(c.fd);
            return true;
        });
    }

    bool socket_still_there() const
    {
        struct stat st {};
        return ::stat(kvtsim::em::socket_path().c_str(), &st) == 0;
    }

    void accept_one()
    {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        Connection connection;
        connection.fd = fd;
        connections_.push_back(std::move(connection));
    }

    void service(Connection &c, short revents)
    {
        if (revents & POLLIN)
            receive(c);
        if ((revents & POLLOUT) && !c.broken)
            flush(c);
        if (revents & (POLLERR | POLLHUP) && !(revents & POLLIN))
            c.broken = true;
    }

    void receive(Connection &c)
    {
        char buffer[65536];
        const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n <= 0) {
            c.broken = true;
            return;
        }
        c.in.append(buffer, static_cast<std::size_t>(n));
        kvtsim::em::Header header;
        while (c.in.size() >= sizeof header) {
            std::memcpy(&header, c.in.data(), sizeof header);
            if (header.length > kvtsim::em::kMaxPayload) {
                c.broken = true;
                return;
            }
            if (c.in.size() < sizeof header + header.length)
                return;
            const std::string payload = c.in.substr(sizeof header, header.length);
            c.in.erase(0, sizeof header + header.length);
            handle(c, header, payload);
        }
    }

    void flush(Connection &c)
    {
        const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n <= 0) {
            c.broken = true;
            return;
        }
        c.out.erase(0, static_cast<std::size_t>(n));
    }

    void reply(Connection &c, int result)
    {
        c.out += frame_bytes(Kind::reply, result, 0, {});
        c.close_when_sent = true;
    }

    void handle(Connection &c, const kvtsim::em::Header &header, const std::string &payload)
    {
        switch (static_cast<Kind>(header.kind)) {
        case Kind::hello:
            c.subscriber_id = next_id_++;
            c.pid = header.a;
            c.out += frame_bytes(Kind::welcome, c.subscriber_id, 0, {});
            return;
        case Kind::subscribe:
            reply(c, subscribe(header.a, header.b));
            return;
        case Kind::post:
            post(header.a, header.b, payload);
            reply(c, 0);
            return;
        case Kind::pcm:
            pcm_request(static_cast<PcmOp>(header.a), header.b, payload);
            reply(c, 0);
            return;
        default:
            c.broken = true;
            return;
        }
    }

    int subscribe(std::int32_t id, int event_class)
    {
        for (Connection &c : connections_) {
            if (c.subscriber_id == id && !c.broken) {
                c.classes.insert(event_class);
                return 0;
            }
        }
        return -1;
    }

    void post(int event_class, int event_type, std::string_view data)
    {
        if (event_class == kPcmProducerClass)
            pcm_.receive(event_type, data);
        for (Connection &c : connections_)
            if (c.subscriber_id != 0 && !c.broken && c.classes.count(event_class) != 0)
                queue_event(c, event_class, event_type, data);
    }

    static void queue_event(Connection &c, int event_class, int event_type, std::string_view data)
    {
        const std::size_t size = sizeof(kvtsim::em::Header) + data.size();
        if (c.out.size() + size <= kMaxQueuedBytes) {
            c.out += frame_bytes(Kind::event, event_class, event_type, data);
            return;
        }
        if (++c.dropped > kDropLines) {
            if (c.dropped == kDropLines + 1)
                std::fprintf(stderr,
                             "kvtsim-em: subscriber %d (pid %d): further drops are counted, "
                             "not said\n",
                             c.subscriber_id, c.pid);
            return;
        }
        std::fprintf(stderr,
                     "kvtsim-em: subscriber %d (pid %d) is not reading: dropped event class %d "
                     "type %d of %zu bytes, %zu bytes wait for it\n",
                     c.subscriber_id, c.pid, event_class, event_type, data.size(), c.out.size());
    }

    void post_pcm(int type, std::string text)
    {
        text.push_back('\0');
        post(kPcmConsumerClass, type, text);
    }

    void pcm_request(PcmOp op, std::int32_t argument, const std::string &payload)
    {
        switch (op) {
        case PcmOp::state:
            Pcm::store_state(argument);
            post_pcm(1, {});
            return;
        case PcmOp::heartbeat:
            post_pcm(2, pcm_.heartbeat(payload));
            return;
        case PcmOp::shutdown:
            post_pcm(3, {});
            return;
        case PcmOp::reset:
            post_pcm(4, {});
            return;
        }
    }

    int listener_;
    Pcm &pcm_;
    std::vector<Connection> connections_;
    std::int32_t next_id_ = 1;
};

int listen_on(const std::string &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    ::unlink(path.c_str());
    // The socket API takes every address family through sockaddr. Whoever
    // can connect can post events: the socket is its owner's alone.
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::chmod(path.c_str(), kvtsim::files::kPrivateMode) != 0 || ::listen(fd, 64) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

int main()
{
    const int running = kvtsim::em::connect_socket();
    if (running >= 0) {
        ::close(running);
        std::fprintf(stderr, "kvtsim-em: an event manager already runs on %s\n",
                     kvtsim::root().c_str());
        return 1;
    }
    std::signal(SIGTERM, on_stop);
    std::signal(SIGINT, on_stop);
    std::signal(SIGPIPE, SIG_IGN);
    const std::string path = kvtsim::em::socket_path();
    const int listener = listen_on(path);
    if (listener < 0) {
        std::fprintf(stderr, "kvtsim-em: cannot listen on %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return 1;
    }
    kvtsim::files::replace(kvtsim::sim_path("em.pid"), std::to_string(::getpid()) + "\n");
    Pcm pcm(time_scale());
    Server(listener, pcm).run();
    ::close(listener);
    ::unlink(path.c_str());
    std::remove(kvtsim::sim_path("em.pid").c_str());
    return 0;
}
