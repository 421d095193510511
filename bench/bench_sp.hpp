// The simulated SP for benchmarks and the card I/O report: a temporary
// root, the daemon's start-up steps without the wait for IPMI, and the
// changes it tracks, each delivered as the event manager delivers them.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kvtbench {

// A fresh SP in a temporary root, selected for this process; removed with
// the object.
class TempSp {
  public:
    TempSp();
    ~TempSp();
    TempSp(const TempSp &) = delete;
    TempSp &operator=(const TempSp &) = delete;

  private:
    std::string dir_;
};

// Adds local users until the SP has `total` of them (the card holds 11).
void add_users(int total);

// Start-up capture: the image built from the live SP and written whole.
void startup_capture();
// Start-up restore: users, CLI modes, network and misc settings from the
// image, in the daemon's order; they write nothing to the card.
void startup_restore();
// The fatal stop's card write: version 0xFF, the whole image.
void fatal_stop_write();

// One tracked change. `prepare` (outside any measurement) puts the SP in
// the state that the change reports; `deliver` hands the audit record to
// the daemon's intake. Round `i` and `i + 1` set different values, so that
// every round really changes the card.
struct Change {
    std::string name;
    std::function<void(int)> prepare;
    std::function<void(int)> deliver;
};
const std::vector<Change> &changes();

} // namespace kvtbench
