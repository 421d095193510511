// The simulated event manager for the length of a test, and a subscriber
// that keeps what it was sent.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "platform/event_mgr.h"

namespace kvttest {

// Starts the event manager (with its PCM) of the current root; stops it again.
class EventManager {
  public:
    EventManager();
    ~EventManager();
    EventManager(const EventManager &) = delete;
    EventManager &operator=(const EventManager &) = delete;
    bool started() const { return started_; }

  private:
    bool started_ = false;
};

struct Event {
    int event_class = 0;
    int event_type = 0;
    std::string data; // all `length` bytes
};

// Subscribes to one class and keeps every event delivered.
class EventRecorder {
  public:
    explicit EventRecorder(int event_class);
    ~EventRecorder();
    EventRecorder(const EventRecorder &) = delete;
    EventRecorder &operator=(const EventRecorder &) = delete;
    bool subscribed() const { return subscribed_; }

    // What was recorded once there are `count` events (or after a generous bound).
    std::vector<Event> wait_count(std::size_t count) const;

  private:
    static void deliver(void *self, int event_class, int event_type, void *data,
                        unsigned int length, void *);

    event_mgr_handle_t handle_ = 0;
    bool subscribed_ = false;
    mutable std::mutex mutex_;
    std::vector<Event> events_;
};

} // namespace kvttest
