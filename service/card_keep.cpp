#include "service/card_keep.hpp"

#include <cerrno>
#include <cstring>
#include <string_view>

#include <sys/stat.h>

#include "base/files.hpp"
#include "platform/util.h"

namespace kvt {

namespace {

std::string kept_path(int n)
{
    return std::string(kKeptCardDirectory) + "/" + kKeptCardName + "." + std::to_string(n) + ".bin";
}

std::string resolved(const std::string &fixed)
{
    char out[4096];
    return sp_resolve_path(fixed.c_str(), out, sizeof out);
}

void shift_older()
{
    for (int n = kKeptCards - 1; n >= 1; --n)
        sp_rename(kept_path(n).c_str(), kept_path(n + 1).c_str());
}

// A temporary beside the newest, synced and renamed over it; the image
// holds passwords, so only the owner reads it.
ReplaceResult write_newest(const std::string &path, std::span<const unsigned char> part)
{
    FileReplacement file(path.c_str(), 0600);
    if (!file.opened())
        return file.open_result();
    return file.commit(std::string(part.begin(), part.end()));
}

} // namespace

KeptCard keep_overwritten_card(std::span<const unsigned char> part)
{
    KeptCard result;
    const std::string newest = kept_path(1);
    result.path = resolved(newest);
    // The directory is the service manager's to make; without one, here.
    ::mkdir(resolved(kKeptCardDirectory).c_str(), 0700);
    shift_older();
    const ReplaceResult written = write_newest(newest, part);
    if (written.failed != ReplaceStep::none) {
        result.error = describe(written);
        return result;
    }
    result.kept = true;
    return result;
}

} // namespace kvt
