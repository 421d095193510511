#include "tests/support/event_recorder.hpp"

#include "sim/control.hpp"
#include "tests/support/sim_root.hpp"

namespace kvttest {

EventManager::EventManager() : started_(kvtsim::em_start(KVT_BINARY_DIR "/kvtsim-em") == 0) {}

EventManager::~EventManager()
{
    kvtsim::em_stop();
}

EventRecorder::EventRecorder(int event_class)
{
    subscribed_ = event_mgr_get_handle(&handle_, deliver, this) == 0 &&
                  event_mgr_subscribe_event_class(handle_, event_class) == 0;
}

EventRecorder::~EventRecorder()
{
    event_mgr_release_handle(handle_);
}

// A negative class tells of a lost connection, not of an event.
void EventRecorder::deliver(void *self, int event_class, int event_type, void *data,
                            unsigned int length, void *)
{
    auto *recorder = static_cast<EventRecorder *>(self);
    if (event_class < 0)
        return;
    const std::lock_guard guard(recorder->mutex_);
    recorder->events_.push_back({event_class, event_type, {static_cast<char *>(data), length}});
}

std::vector<Event> EventRecorder::wait_count(std::size_t count) const
{
    std::vector<Event> seen;
    wait_until([&] {
        const std::lock_guard guard(mutex_);
        seen = events_;
        return seen.size() >= count;
    });
    return seen;
}

} // namespace kvttest
