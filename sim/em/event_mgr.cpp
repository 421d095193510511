// Client side of the simulated event manager: handles, subscriptions,
// posting, and a delivery thread per handle that calls the callback one
// message at a time.
#include <atomic>
#include <csignal>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/event_mgr.h"
#include "sim/control.hpp"
#include "sim/em/em_protocol.hpp"

namespace {

using kvtsim::em::Kind;

struct Subscriber {
    int fd = -1;
    std::int32_t id = 0;
    event_mgr_callback_t callback = nullptr;
    void *arg = nullptr;
    std::thread delivery;
    std::atomic<bool> releasing{false};

    ~Subscriber()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

std::mutex table_mutex;
std::map<event_mgr_handle_t, std::shared_ptr<Subscriber>> table;
event_mgr_handle_t next_handle = 1;

int fault_result(const std::string &name)
{
    long value = 0;
    if (!kvtsim::fault_fires(name, &value))
        return 0;
    return value != 0 ? static_cast<int>(value) : -1;
}

// Runs until the connection ends. The subscriber is kept alive by this
// thread's reference, so a release from inside the callback is safe.
void deliver(const std::shared_ptr<Subscriber> &subscriber)
{
    kvtsim::em::Header header;
    std::string payload;
    while (kvtsim::em::read_frame(subscriber->fd, header, payload)) {
        if (header.kind != static_cast<std::uint32_t>(Kind::event))
            continue;
        // A NUL past the end guards receivers that read the data as text.
        payload.push_back('\0');
        subscriber->callback(subscriber->arg, header.a, header.b, payload.data(), header.length,
                             nullptr);
    }
    if (!subscriber->releasing)
        subscriber->callback(subscriber->arg, -1, -1, nullptr, 0, nullptr);
}

// The delivery thread must not take the process's signals.
std::thread start_delivery(const std::shared_ptr<Subscriber> &subscriber)
{
    sigset_t all;
    sigset_t saved;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &saved);
    std::thread thread(deliver, subscriber);
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    return thread;
}

std::shared_ptr<Subscriber> find(event_mgr_handle_t handle)
{
    std::lock_guard lock(table_mutex);
    const auto it = table.find(handle);
    return it == table.end() ? nullptr : it->second;
}

std::shared_ptr<Subscriber> take(event_mgr_handle_t handle)
{
    std::lock_guard lock(table_mutex);
    const auto it = table.find(handle);
    if (it == table.end())
        return nullptr;
    std::shared_ptr<Subscriber> subscriber = it->second;
    table.erase(it);
    return subscriber;
}

} // namespace

extern "C" int event_mgr_get_handle(event_mgr_handle_t *handle, event_mgr_callback_t callback,
                                    void *arg)
{
    if (const int fault = fault_result("em.get_handle"))
        return fault;
    auto subscriber = std::make_shared<Subscriber>();
    subscriber->fd = kvtsim::em::connect_socket();
    if (subscriber->fd < 0)
        return -1;
    kvtsim::em::Header header;
    std::string payload;
    if (!kvtsim::em::send_frame(subscriber->fd, Kind::hello, static_cast<std::int32_t>(::getpid()),
                                0, {}) ||
        !kvtsim::em::read_frame(subscriber->fd, header, payload) ||
        header.kind != static_cast<std::uint32_t>(Kind::welcome))
        return -1;
    subscriber->id = header.a;
    subscriber->callback = callback;
    subscriber->arg = arg;
    std::lock_guard lock(table_mutex);
    const event_mgr_handle_t assigned = next_handle++;
    table.emplace(assigned, subscriber);
    subscriber->delivery = start_delivery(subscriber);
    *handle = assigned;
    return 0;
}

extern "C" int event_mgr_subscribe_event_class(event_mgr_handle_t handle, int event_class)
{
    if (const int fault = fault_result("em.subscribe:" + std::to_string(event_class)))
        return fault;
    const std::shared_ptr<Subscriber> subscriber = find(handle);
    if (subscriber == nullptr)
        return -1;
    return kvtsim::em::request(Kind::subscribe, subscriber->id, event_class, {});
}

extern "C" int event_mgr_release_handle(event_mgr_handle_t handle)
{
    const std::shared_ptr<Subscriber> subscriber = take(handle);
    if (subscriber == nullptr)
        return -1;
    subscriber->releasing = true;
    ::shutdown(subscriber->fd, SHUT_RDWR);
    // Released from its own callback, the delivery thread ends by itself
    // once the callback returns.
    if (subscriber->delivery.get_id() == std::this_thread::get_id())
        subscriber->delivery.detach();
    else if (subscriber->delivery.joinable())
        subscriber->delivery.join();
    return 0;
}

extern "C" int event_mgr_post_event(int event_class, int event_type, const void *data,
                                    unsigned int length)
{
    if (const int fault = fault_result("em.post:" + std::to_string(event_class)))
        return fault;
    const std::string_view payload(static_cast<const char *>(data), data == nullptr ? 0 : length);
    return kvtsim::em::request(Kind::post, event_class, event_type, payload);
}

extern "C" int procmon_getSystemState(void)
{
    std::ifstream in(kvtsim::sim_path("system_state"));
    int state = 0;
    if (!(in >> state))
        return 0;
    return state;
}
