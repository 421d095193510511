// The kvtd service: shared state and the routines of start-up, the card
// monitor and change tracking.
#pragma once

#include <cstdint>

#include "base/daemon_state.hpp"
#include "card/image.hpp"

// Holds only the recorded SP MAC for start-up's comparison.
extern kvt_image_t kvt_new_image;

// start-up (service/startup.cpp)
int trelmproc_initialize();
void wait_for_ipmi();

// card monitor (service/monitor.cpp, service/kvt_data.cpp)
int trelmproc_run();
int check_kvt_chip();
void read_sp_mac(unsigned char *mac);
namespace kvt {
// The SP MAC of the KVT-data file into `mac`; nullptr, or the line
// read_sp_mac logs before it stops the daemon.
const char *load_sp_mac(unsigned char *mac);
} // namespace kvt

// full capture (service/capture.cpp)
void get_current_config(kvt_image_t *image);

// audit intake (service/intake.cpp) and routing (service/router.cpp)
void kvtd_handle_event(int event_class, int event_type, const void *data, std::uint32_t length);
void kvtd_process_ipmi_payload(const unsigned char *data, std::uint32_t length);
void kvtd_process_luapi_payload(const unsigned char *data, std::uint32_t length);
void kvtd_process_persist_payload(const unsigned char *data, std::uint32_t length);
void kvtd_process_obj_update(const char *path, const char *value);
