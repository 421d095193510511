// The card operations of the platform boundary, over the board's EEPROM
// device. The image lives at card address 0x1800 + image offset, so the
// header is where the card monitor reads it over I2C.
//
// Three threads may call in at once: the event thread's section writes,
// the card monitor's header read (card_watch.hpp) and a fatal stop on
// either. The library's state is guarded by the library's own lock, held
// only while the card is read or written, so no caller waits longer than
// one write takes. kvt_image itself is the daemon's: the library reads
// from it only the bytes a caller hands over, on the caller's thread (see
// write_out_KVT for the fatal stop's whole-image write).
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "card/image.hpp"
#include "cardlib/card_copy.hpp"
#include "cardlib/card_watch.hpp"
#include "cardlib/eeprom_device.hpp"
#include "platform/card_lib.h"

struct kvt_image_t kvt_image;

namespace {

std::mutex &card_lock()
{
    // Never destroyed: a fatal stop may end the process from any thread.
    static auto *lock = new std::mutex;
    return *lock;
}

cardlib::CardCopy &card_copy()
{
    static auto *copy = new cardlib::CardCopy;
    return *copy;
}

using ImageBytes = std::array<unsigned char, KVT_IMAGE_SIZE>;

// kvt_image as far as it was handed to the library: the image as read,
// with every write's bytes since, whether or not the write succeeded.
ImageBytes &handed()
{
    static auto *image = new ImageBytes{};
    return *image;
}

// The offset of `data` in kvt_image, when [data, data + len) lies inside
// it; -1 otherwise.
long offset_in_image(const void *data, int len)
{
    const unsigned char *first = kvt::image_bytes(kvt_image).data();
    const auto *at = static_cast<const unsigned char *>(data);
    // std::less orders any two pointers, also those into other objects.
    const std::less<const unsigned char *> before;
    if (!data || len < 0 || before(at, first) || before(first + KVT_IMAGE_SIZE, at))
        return -1;
    const auto offset = static_cast<std::size_t>(at - first);
    if (static_cast<std::size_t>(len) > KVT_IMAGE_SIZE - offset)
        return -1;
    return static_cast<long>(offset);
}

cardlib::ImageView image_of(const void *image_copy, std::array<unsigned char, KVT_IMAGE_SIZE> &out)
{
    std::memcpy(out.data(), image_copy, out.size());
    return out;
}

void copy_text(const std::string &text, char *out, std::size_t size)
{
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

// The thread that handed the library its last write; none before the first.
std::thread::id &last_writer()
{
    static auto *id = new std::thread::id;
    return *id;
}

// The fatal stop's write: the whole image, marked 0xFF, as kvt_image holds
// it, so that a change a writer stored before it failed reaches the card
// under the invalid header. Only when another thread handed the library
// the last write may an event be changing a section of kvt_image right
// now: then the header alone is read (no writer touches it once the daemon
// runs) and each section goes as it was last handed over, which also
// writes again a section whose own write failed.
bool invalidates(long offset, int len)
{
    return offset == 0 && len == static_cast<int>(KVT_IMAGE_SIZE) &&
           kvt_image.hdr_version == kvt::kInvalidatedVersion;
}

int invalidate_card()
{
    ImageBytes image{};
    const std::lock_guard guard(card_lock());
    const std::thread::id writer = last_writer();
    const bool image_is_ours = writer == std::thread::id() || writer == std::this_thread::get_id();
    std::memcpy(image.data(), &kvt_image, image_is_ours ? image.size() : kvt::kHeaderSize);
    if (!image_is_ours)
        std::copy(handed().begin() + kvt::kHeaderSize, handed().end(),
                  image.begin() + kvt::kHeaderSize);
    handed() = image;
    return card_copy().write(cardlib::board_card_device(), 0, image);
}

} // namespace

namespace cardlib {

void note_card_unanswered()
{
    const std::lock_guard guard(card_lock());
    card_copy().mark_stale();
}

void note_card_bytes(std::size_t address, std::span<const unsigned char> bytes)
{
    const std::lock_guard guard(card_lock());
    card_copy().note_read(address, bytes);
}

} // namespace cardlib

extern "C" {

int read_in_KVT(void *image, int len)
{
    if (!image || len < 0 || static_cast<std::size_t>(len) > KVT_IMAGE_SIZE) {
        errno = EINVAL;
        return -1;
    }
    const std::lock_guard guard(card_lock());
    if (card_copy().read_card(cardlib::board_card_device()) != 0)
        return -1;
    handed() = card_copy().image();
    std::memcpy(image, card_copy().image().data(), static_cast<std::size_t>(len));
    return 0;
}

// Only bytes of kvt_image can be written, and only to their own place on
// the card: a pointer or length that reaches outside the image is refused
// before anything is written.
int write_out_KVT(const void *data, int len)
{
    const long offset = offset_in_image(data, len);
    if (offset < 0) {
        errno = EINVAL;
        return -1;
    }
    if (invalidates(offset, len))
        return invalidate_card();
    const std::span bytes(static_cast<const unsigned char *>(data), static_cast<std::size_t>(len));
    const std::lock_guard guard(card_lock());
    last_writer() = std::this_thread::get_id();
    std::copy(bytes.begin(), bytes.end(), handed().begin() + offset);
    return card_copy().write(cardlib::board_card_device(), static_cast<std::size_t>(offset), bytes);
}

// The acceptance rule alone: version 0x0B and nine right checksums. The
// image is one in memory (the capture checks the image it has just built
// with it), and no record of the card judges that. Any platform code is
// accepted: the image format is the same on every platform this library
// serves.
int valid_KVT(const void *image_copy, int /*platform*/)
{
    if (!image_copy)
        return 0;
    std::array<unsigned char, KVT_IMAGE_SIZE> bytes{};
    return cardlib::classify_card(image_of(image_copy, bytes), std::nullopt).accepted() ? 1 : 0;
}

int describe_KVT(const void *image_copy, int /*platform*/, struct kvt_card_verdict *verdict)
{
    if (!image_copy || !verdict)
        return -1;
    std::array<unsigned char, KVT_IMAGE_SIZE> bytes{};
    cardlib::CardVerdict judged;
    {
        const std::lock_guard guard(card_lock());
        judged = card_copy().judge(image_of(image_copy, bytes));
    }
    verdict->valid = judged.accepted() ? 1 : 0;
    copy_text(cardlib::verdict_reason(judged), verdict->reason, sizeof verdict->reason);
    copy_text(cardlib::verdict_warning(judged), verdict->warning, sizeof verdict->warning);
    return 0;
}

int card_as_read_KVT(void *part, int size)
{
    std::vector<unsigned char> read;
    {
        const std::lock_guard guard(card_lock());
        read = card_copy().part_as_read();
    }
    if (!part || read.empty() || size < 0 || static_cast<std::size_t>(size) < read.size())
        return -1;
    std::memcpy(part, read.data(), read.size());
    return static_cast<int>(read.size());
}

} // extern "C"
