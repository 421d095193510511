// What every fuzz target shares: one simulated SP per process, a captured
// card image, and a fatal stop that ends the input instead of the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "card/image.hpp"

namespace kvtfuzz {

// Thrown by the fuzz build's kvtd_fatal_stop. Between the stop and the
// target's entry point there is only C++ code of the daemon and of the
// simulated SP, so the unwinding never crosses a C frame.
struct FatalStop {};

// Creates the SP root in a temporary directory and selects it, once per
// process; captures the SP's configuration into kvt_image and onto the
// card.
void setup_once();

// The image of the first capture; every input starts from it.
const kvt_image_t &captured_image();

// Puts the captured image back into kvt_image and the run flag up again.
void reset_image();

// Puts the files of the SP as setup_once left them: users, objects,
// persisted variables, CLI-mode and KVT-data files.
void reset_sp();

// A byte of the input read as a signed number, -128 to 127.
inline int signed_byte(std::uint8_t byte)
{
    return byte < 0x80 ? byte : byte - 0x100;
}

// True when `line` (a whole message, newline included) is among the last
// few service-log appends.
bool logged_lately(std::string_view line);

// Replaces the file at `fixed_path` in the root with the given bytes.
void write_root_file(std::string_view fixed_path, const std::uint8_t *data, std::size_t size);

// What a fatal stop leaves behind (open files, connections of the object
// service) is released by the real one with the process; here the step
// marks what exists before it and releases the rest after a stop.
void mark_resources();
void release_resources_left_open();

// Runs one step of the daemon. A fatal stop is a normal end of the step:
// false is returned and what the step left open is released.
template <typename Step> bool run_step(Step step)
{
    mark_resources();
    try {
        step();
        return true;
    } catch (const FatalStop &) {
        release_resources_left_open();
        return false;
    }
}

} // namespace kvtfuzz
