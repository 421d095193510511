#include "fuzz/support.hpp"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "base/fatal_stop.hpp"
#include "base/log.hpp"
#include "platform/capi.h"
#include "platform/card_lib.h"
#include "platform/luapi.h"
#include "service/kvtd.hpp"
#include "sim/control.hpp"

namespace fs = std::filesystem;

// ---- the fatal stop of the fuzz build ----------------------------------------
// The daemon's stop records the stop, invalidates the card and kills the
// process. Here it keeps only what the daemon itself sees (its line and the
// cleared run flag) and hands control back to the target's entry point.

void initiate_server_shutdown(const char *)
{
    serverActive = false;
}

void kvtd_fatal_stop()
{
    log_error("===== kvtd shutting down =====\n");
    initiate_server_shutdown("kvtd shutting down");
    throw kvtfuzz::FatalStop{};
}

// ---- files left open by a stop --------------------------------------------------
// The targets are linked with --wrap=fopen,fclose: every stream opened while
// an input runs is known, and the ones a stop left open are closed.

namespace {

// Never destroyed: libFuzzer still opens files (a crash report) after the
// static destructors have run.
std::mutex &files_mutex()
{
    static auto *mutex = new std::mutex;
    return *mutex;
}

std::vector<std::FILE *> &open_files()
{
    static auto *files = new std::vector<std::FILE *>;
    return *files;
}

std::size_t files_mark = 0;
// Connections of the object service below this number have been released.
int luapi_floor = 0;

} // namespace

void track(std::FILE *file)
{
    if (file == nullptr)
        return;
    const std::lock_guard lock(files_mutex());
    open_files().push_back(file);
}

extern "C" {
std::FILE *__real_fopen(const char *path, const char *mode);
std::FILE *__real_fdopen(int fd, const char *mode);
int __real_fclose(std::FILE *file);

std::FILE *__wrap_fopen(const char *path, const char *mode)
{
    std::FILE *file = __real_fopen(path, mode);
    track(file);
    return file;
}

std::FILE *__wrap_fdopen(int fd, const char *mode)
{
    std::FILE *file = __real_fdopen(fd, mode);
    track(file);
    return file;
}

int __wrap_fclose(std::FILE *file)
{
    {
        const std::lock_guard lock(files_mutex());
        std::erase(open_files(), file);
    }
    return __real_fclose(file);
}
} // extern "C"

// ---- what a fuzz process does not need to reach ------------------------------
// The targets are also linked with --wrap=ez_log_nostamp,event_mgr_post_event.
// Millions of inputs would fill the disk with log lines, and the opens and
// closes of the log file would cost more than the input: a line is still
// formatted (its arguments come from the input), then dropped unless
// KVT_FUZZ_KEEP_LOG is set. No event manager runs in a fuzz process, so a
// post fails as it would without one, without trying to connect.

namespace {

const bool keep_log = std::getenv("KVT_FUZZ_KEEP_LOG") != nullptr;

// The last few appends, for a target that asks why a step stopped.
constexpr std::size_t kRecentLines = 8;
std::array<std::string, kRecentLines> recent;
std::size_t next_recent = 0;

} // namespace

extern "C" {
void __real_ez_log_nostamp(const char *path, const char *format, ...);

__attribute__((format(printf, 2, 3))) void __wrap_ez_log_nostamp(const char *path,
                                                                 const char *format, ...)
{
    char line[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    recent[next_recent++ % kRecentLines] = line;
    if (keep_log)
        __real_ez_log_nostamp(path, "%s", line);
}

int __wrap_event_mgr_post_event(int, int, const void *, unsigned int)
{
    return -1;
}
} // extern "C"

namespace kvtfuzz {

bool logged_lately(std::string_view line)
{
    return std::find(recent.begin(), recent.end(), line) != recent.end();
}

void mark_resources()
{
    const std::lock_guard lock(files_mutex());
    files_mark = open_files().size();
}

void release_resources_left_open()
{
    std::vector<std::FILE *> left;
    {
        const std::lock_guard lock(files_mutex());
        std::vector<std::FILE *> &files = open_files();
        if (files.size() > files_mark) {
            left.assign(files.begin() + static_cast<std::ptrdiff_t>(files_mark), files.end());
            files.resize(files_mark);
        }
    }
    for (std::FILE *file : left)
        __real_fclose(file);

    // A stop inside a restore leaves its session open, as the real stop
    // does until the kill. Connections are numbered in order: close every
    // one opened since the last release (closing a closed one fails quietly).
    const int next = luapife_open(1);
    for (int handle = luapi_floor; handle <= next; ++handle)
        luapife_close(handle);
    luapi_floor = next + 1;
}

// ---- the simulated SP ---------------------------------------------------------------

namespace {

std::string root_dir;
kvt_image_t captured;
// The simulator's stores (held in this process) and every other file of
// the root as setup left them, except logs and lock files.
kvtsim::StoreContents stores;
std::map<std::string, std::string> root_files;

void remove_root()
{
    std::error_code ignored;
    fs::remove_all(root_dir, ignored);
}

[[noreturn]] void setup_failed(const char *what)
{
    std::fprintf(stderr, "fuzz setup: %s\n", what);
    std::abort();
}

void make_root()
{
    std::string pattern = (fs::temp_directory_path() / "kvt-fuzz-sp.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        setup_failed("mkdtemp failed");
    root_dir = pattern;
    std::atexit(remove_root);
    if (kvtsim::create_root(root_dir) != 0)
        setup_failed("create_root failed");
    kvtsim::use_root(root_dir);
    // A restore sets some 70 objects: on file that would be thousands of
    // file replacements a second.
    kvtsim::keep_stores_in_memory();
    // Nothing the daemon waits for is worth waiting for here.
    ::setenv(kvtsim::kTimeScaleEnv, "0", 1);
}

void capture_card()
{
    kvtPlatform = capi_get_platform();
    std::memset(&kvt_image, 0, sizeof kvt_image);
    if (!run_step([] { get_current_config(&kvt_image); }))
        setup_failed("the capture of the simulated SP stopped");
    if (write_out_KVT(&kvt_image, KVT_IMAGE_SIZE) < 0)
        setup_failed("the captured image could not be written to the card");
    captured = kvt_image;
}

bool kept_as_set_up(const fs::path &path)
{
    const std::string name = path.filename().string();
    const std::string relative = fs::relative(path, root_dir).string();
    return !name.ends_with(".lock") && !relative.starts_with("var/log");
}

void remember_root_files()
{
    stores = kvtsim::stores_in_memory();
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(root_dir)) {
        if (!entry.is_regular_file() || !kept_as_set_up(entry.path()) ||
            stores.contains(entry.path().string()))
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        root_files[entry.path().string()] =
            std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
}

// Rewritten in place rather than truncated first: on ext4 a truncation to
// zero makes the close start writeback, which costs milliseconds per input.
void write_file(const std::string &path, const void *data, std::size_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        setup_failed("cannot write a file of the SP root");
    const ssize_t done = ::pwrite(fd, data, size, 0);
    const int cut = ::ftruncate(fd, static_cast<off_t>(size));
    ::close(fd);
    if (done < 0 || static_cast<std::size_t>(done) != size || cut != 0)
        setup_failed("short write to a file of the SP root");
}

} // namespace

void setup_once()
{
    if (!root_dir.empty())
        return;
    make_root();
    capture_card();
    remember_root_files();
}

const kvt_image_t &captured_image()
{
    return captured;
}

void reset_image()
{
    kvt_image = captured;
    serverActive = true;
}

void reset_sp()
{
    kvtsim::set_stores_in_memory(stores);
    for (const auto &[path, bytes] : root_files)
        write_file(path, bytes.data(), bytes.size());
}

void write_root_file(std::string_view fixed_path, const std::uint8_t *data, std::size_t size)
{
    write_file(kvtsim::path_in_root(fixed_path), data, size);
}

} // namespace kvtfuzz
