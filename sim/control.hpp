// Control API of the simulated SP, for tests, benchmarks and the kvtsim
// command-line tool. The daemon never includes this header: it reaches
// the simulated SP only through platform/.
//
// One SP root directory holds all state of one simulated SP; the root is
// taken from the environment variable KVT_SP_ROOT (default: "kvt-sp" in
// $XDG_RUNTIME_DIR, else ".kvt-sp" in the user's home directory). A root is
// used only when it is a directory (not a symbolic link) owned by the
// effective user and writable by nobody else, with nothing below it that
// others can write: every other user could plant files and links in it that
// the daemon would then write or run.
// The daemon's fixed paths live under it at the same relative place
// ("/var/log/kvtd.log" is <root>/var/log/kvtd.log); the simulated
// services keep their own state under <root>/sim/.
//
// Time: KVT_SIM_TIME_SCALE (a decimal factor, default 1) multiplies every
// platform sleep, so 0.01 turns the monitor's 10 seconds into 100 ms.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kvtsim {

inline constexpr const char *kRootEnv = "KVT_SP_ROOT";
inline constexpr const char *kTimeScaleEnv = "KVT_SIM_TIME_SCALE";
inline constexpr std::size_t kEepromSize = 8192;
inline constexpr std::size_t kImageOffset = 0x1800;
inline constexpr std::size_t kImageSize = 1832;

using ImageBytes = std::array<unsigned char, kImageSize>;
using Mac = std::array<unsigned char, 6>;

// ---- root ---------------------------------------------------------------
// The per-user default root.
std::string default_root();
// KVT_SP_ROOT, or the default root when it is unset or empty.
std::string configured_root();
// Why `dir` may not be used as an SP root, or nullopt when it may: the
// directory itself, then everything below it.
std::optional<std::string> root_refusal(const std::string &dir);
// The configured root when it may be used. Otherwise a path under which
// nothing can be opened or created (not even by root), after the reason was
// said once on standard error: every service of a refused root fails.
std::string root();
// Sets KVT_SP_ROOT for this process and the processes it starts.
void use_root(const std::string &dir);
// <root> + fixed, e.g. "/etc/cli_mode.conf" -> "<root>/etc/cli_mode.conf".
std::string path_in_root(std::string_view fixed);
// <root>/sim/<name>
std::string sim_path(std::string_view name);

struct RootOptions {
    Mac base_mac{0x00, 0x14, 0x4f, 0x00, 0x00, 0x00};
    Mac sp_mac{0x00, 0x14, 0x4f, 0x00, 0x00, 0x01};
    bool ipmi_up = true;
};
// Creates (or resets) a complete SP: `dir` (created with mode 0755 when
// missing, else refused as root() would refuse it), every configuration object with its
// default value, default users, a KVT-data file, a CLI-mode file, a blank
// card, running daemon state, moved "no", IPMI up. 0 on success.
int create_root(const std::string &dir, const RootOptions &options = {});

// ---- stores held in memory ---------------------------------------------
// An in-process run that sets thousands of objects a second (a fuzz
// target) can keep the simulator's own stores under <root>/sim/ (objects,
// persisted variables, users) in this process from here on: each is read
// from its file once, and changes stay in the process, unseen by other
// processes. Files the daemon reads itself (the CLI-mode file, the card)
// stay on disk. Faults set from then on are held in the process as well,
// and faults set on file are no longer seen.
using StoreContents = std::map<std::string, std::string>; // file path -> text
void keep_stores_in_memory();
StoreContents stores_in_memory();
// Replaces what the process holds (e.g. with an earlier stores_in_memory());
// a store left out is read from its file again on next use.
void set_stores_in_memory(StoreContents contents);

// ---- faults ------------------------------------------------------------
// A fault makes the named operation fail on demand, in this process and in
// every other process on the same root. `value` is the error to report
// (errno, luapi_errno or a result code, as the operation has); `count` is
// how many calls fail before the fault clears itself, -1 for all of them.
// Names:
//   "card.read", "card.write" (a read or page write of the card's
//   part), "i2c" (the header read over I2C)                 value: errno
//   "card.write_torn"      value N: power is lost once N more bytes have
//                          been programmed into the card; the page write
//                          that crosses the N-th byte fails with ENODEV
//                          (the bus went down with the power)
//   "card.power_cut"       value N: the SP loses power once N more bytes
//                          have been programmed into the card: later page
//                          writes program nothing, unknown to the writer;
//                          each page write is noted as it was meant in
//                          <root>/sim/card/power_cut (sim/card/card_device.cpp)
//   "card.detect"          the slot's presence-detect line gives no signal
//   "card.pull"            value N: the card leaves the slot once N more
//                          bytes have crossed the bus (sim/card/card_chip.hpp)
//   "card.busy"            value N: each write cycle of the card's part
//                          lasts N microseconds
//   "luapi.open", "luapi.session_create",
//   "luapi.session_destroy", "luapi.close"                 value: luapi_errno
//   "luapi.test_get:<path>", "luapi.get:<path>",
//   "luapi.test_set:<path>", "luapi.set:<path>"            value: luapi_errno
//   "luapi.get_garbled:<path>" (the read succeeds with the text "garbled")
//   "capi.get_keyswitch", "capi.set_keyswitch"
//   "capi.verbosity_name:<name>", "capi.level_name:<name>" (name unknown)
//   "nv.get:<name>"
//   "um.add", "um.delete", "um.set_password", "um.set_roles",
//   "um.get_password", "um.root_disabled", "um.no_free_uid"
//   "em.get_handle", "em.subscribe:<class>", "em.post:<class>"
//   "file.open:<fixed path>", "file.write", "file.fsync", "file.close",
//   "file.rename"  (the daemon's own file steps)       value: errno
void fault_set(std::string_view name, long value = 0, int count = -1);
void fault_clear(std::string_view name);
void faults_clear_all();
// The names above; a family that takes an argument ends in ':'.
std::vector<std::string> fault_names();
// True for a name above; a family only with an argument this SP has (an
// object path, a POST name, a persisted variable, an event class, a file in
// one of the directories the daemon keeps files in).
bool fault_name_known(std::string_view name);
struct ActiveFault {
    std::string name;
    long value = 0;
    int count = -1;
};
// The faults set now, by name.
std::vector<ActiveFault> faults_active();
// Used by the simulated services: true when the fault fires for this
// call (a counted fault is used up by it), with its value.
bool fault_fires(std::string_view name, long *value = nullptr);

// ---- card --------------------------------------------------------------
bool card_present();
int card_pull();   // the card leaves the slot (kept aside)
int card_insert(); // the card that was pulled goes back
// Puts a blank card (all 0xFF) in the slot, replacing any card there; a
// part of another size is another 24C part (16, 32 or 64 KiB).
int card_insert_blank(std::size_t part_size = kEepromSize);
// Puts a card holding `image` at the image offset (rest 0xFF) in the slot.
int card_insert_image(std::span<const unsigned char, kImageSize> image);
// Puts a card holding `part` (a whole 24C part, as card_eeprom() gives it)
// in the slot: a card carried over from another SP with all it holds.
int card_insert_eeprom(std::span<const unsigned char> part);
// The card of another SP: the image of the card in the slot when it is
// valid (otherwise an all-zero image), with version 0x0B, `mac` in its
// header and all nine checksums recomputed.
ImageBytes foreign_image(const Mac &mac);
std::optional<ImageBytes> card_image();
std::vector<unsigned char> card_eeprom();

// ---- card I/O accounting -------------------------------------------------
// Every transfer on the bus to or from the card, counted for all processes
// on this root (<root>/sim/card/io). The card is a 24C64-class EEPROM on a
// two-wire bus; bus time is modelled as 9 clocks per byte (8 bits and the
// acknowledge) plus one per start, repeated start and stop:
//   page write  start, device, 2 address bytes, n data bytes, stop
//               = 29 + 9n clocks, then a 5 ms write cycle
//   read        start, device, 2 address bytes, repeated start, device,
//               n data bytes, stop = 39 + 9n clocks
inline constexpr double kPageWriteCycleMs = 5.0;

struct CardIo {
    std::uint64_t pages_programmed = 0; // page writes, one write cycle each
    std::uint64_t bytes_written = 0;    // data bytes carried by the page writes
    std::uint64_t reads = 0;            // read transfers: image, header, record checks
    std::uint64_t bytes_read = 0;       // data bytes carried by the reads

    CardIo &operator+=(const CardIo &more)
    {
        pages_programmed += more.pages_programmed;
        bytes_written += more.bytes_written;
        reads += more.reads;
        bytes_read += more.bytes_read;
        return *this;
    }
};
CardIo card_io();
void card_io_reset();
// Page writes made by this process since the last reset, one count per
// page of the part in the slot (index: card address / its page size), for
// the first 256 pages: all of a 24C64 or a 24C128.
std::vector<std::uint64_t> card_page_programs();
void card_page_programs_reset();
// Modelled time of the counted transfers on a bus clocked at `bus_khz`,
// write cycles included, in milliseconds.
double card_io_ms(const CardIo &io, unsigned bus_khz);

// ---- card library state --------------------------------------------------
std::string daemon_state(); // "initializing", "running" or "shutdown"
void set_daemon_state(std::string_view state);
bool moved();
void set_moved(bool moved);

// ---- KVT-data -----------------------------------------------------------
Mac sp_mac();
int write_kvt_data(const std::string &text);

// ---- IPMI -----------------------------------------------------------------
// Either way, every open internal session ends.
void set_ipmi_up(bool up);
// Internal sessions open now; the IPMI stack holds 4 at most.
int ipmi_sessions_open();
// Connections to the object service this process has open now.
int object_connections_open();

// ---- configuration objects -------------------------------------------------
// Reads an object; nullopt for an unknown path.
std::optional<std::string> object_get(std::string_view path);
// Sets an object as an administrator would: the value must be accepted.
// 0 on success, -1 for an unknown path or a refused value.
int object_set(std::string_view path, std::string_view value);

// ---- persisted variables -----------------------------------------------------
std::optional<std::string> nv_get(std::string_view name);
int nv_set(std::string_view name, std::string_view value);

// ---- users ----------------------------------------------------------------
// The user database keeps the rules of a Linux one (sim/users/user_db.hpp): it
// refuses names useradd refuses, unknown role names and passwords with a
// newline, and stores a password as its hash.
struct User {
    std::string name;
    unsigned uid = 0;
    std::string password; // to user_add: the text to set; from users(): the stored attribute
    std::string roles;    // serialized, e.g. "admin,operator"
    bool proxy = false;
};
std::vector<User> users();
int user_add(const User &user);
// The attribute the database stores for `password` of the account `name`.
std::string password_attribute(std::string_view name, std::string_view password);
int user_delete(std::string_view name);
int user_set_password(std::string_view name, std::string_view password);
int user_set_roles(std::string_view name, std::string_view roles);
// Role text <-> mask, as the user-management library converts them.
std::uint32_t roles_to_mask(std::string_view roles);
std::string mask_to_roles(std::uint32_t mask);
// Whether this process has an enumeration of the accounts open: begun by
// um_getatent_r, ended only by um_endatent, as the service keeps its
// account file open between them.
bool user_enumeration_open();

// ---- CLI modes --------------------------------------------------------------
std::string cli_mode_file();
int write_cli_mode_file(std::string_view text);

// ---- the calls that change the SP --------------------------------------------
// From journal_start() on, every call a process on this root makes to add,
// delete or change a user (um_add_local_user, um_delete_local_user,
// um_set_local_user_password, um_set_local_user_roles), to set an object
// (luapife_set_obj_val) or the keyswitch (capi_set_keyswitch) is recorded
// as one line: "<call> <arguments> = <result>", e.g. "um_add_local_user
// alice = 0", "luapife_set_obj_val /X/darvcli/prompt sp> = 0",
// "um_set_local_user_roles alice 0x00000020 = 0", a newline written "\n"
// and a backslash "\\". Passwords are not recorded.
void journal_start();
std::vector<std::string> journal();

// ---- what the SP recorded ----------------------------------------------------
// Fault log lines: "fault <n> <text>", "clear <n> <text>", "event <n>",
// "disable_powerons", "enable_powerons".
std::vector<std::string> fault_log();
// The SP's own command that allows power-on again after kvtd disabled it:
// logged as "enable_powerons".
void enable_powerons();
// Whether the last of those two lines disables power-on.
bool powerons_disabled();
// Power operations: "<flags> <target> <op>".
std::vector<std::string> power_ops();

// ---- processes -------------------------------------------------------------
// Process ids of the kvtd processes running on this root (their
// environment's KVT_SP_ROOT equals root()); the fatal stop's
// "kill -9 `pidof kvtd`" reaches exactly these on the simulated SP.
std::vector<int> kvtd_pids();

// ---- event manager and PCM -------------------------------------------------
// Starts the simulated event manager, with its PCM, in the background for
// this root (pid in <root>/sim/em.pid); `program` is the kvtsim-em binary,
// by default the one next to the running program. 0 once it accepts
// connections (at once when one already runs), -1 otherwise.
int em_start(std::string_view program = {});
// Stops it; 0 once it has gone, -1 when none ran.
int em_stop();
bool em_running();
// PCM requests, each a class-101 message to every subscriber: a state
// change (after storing `state` for procmon_getSystemState), a shutdown
// request, a reset to defaults, a heartbeat (with `number`, or with the
// next number of the PCM's own count when it is empty). 0 when sent.
int pcm_state(int state);
int pcm_shutdown();
int pcm_reset();
int pcm_heartbeat(std::string_view number = {});
// What the PCM received: "initialize <name>", "heartbeat <text>".
std::vector<std::string> pcm_log();

} // namespace kvtsim
