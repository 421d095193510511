// The card operations of the platform boundary, over the board's EEPROM
// device. The image lives at card address 0x1800 + image offset, so the
// header is where the card monitor reads it over I2C.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>

#include "card/image.hpp"
#include "cardlib/card_copy.hpp"
#include "cardlib/eeprom_device.hpp"
#include "platform/card_lib.h"

struct kvt_image_t kvt_image;

namespace {

// Start-up, the event writers and the fatal stop may call in from
// different threads; the copy of the card is the library's to guard.
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

cardlib::CardVerdict judge_copy(const void *image_copy)
{
    std::array<unsigned char, KVT_IMAGE_SIZE> bytes{};
    std::memcpy(bytes.data(), image_copy, bytes.size());
    const std::lock_guard guard(card_lock());
    return card_copy().judge(bytes);
}

void copy_text(const std::string &text, char *out, std::size_t size)
{
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

} // namespace

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
    const std::lock_guard guard(card_lock());
    return card_copy().write(
        cardlib::board_card_device(), static_cast<std::size_t>(offset),
        std::span(static_cast<const unsigned char *>(data), static_cast<std::size_t>(len)));
}

// Any platform code is accepted: the image format is the same on every
// platform this library serves.
int valid_KVT(const void *image_copy, int /*platform*/)
{
    if (!image_copy)
        return 0;
    return judge_copy(image_copy).accepted() ? 1 : 0;
}

int describe_KVT(const void *image_copy, int /*platform*/, struct kvt_card_verdict *verdict)
{
    if (!image_copy || !verdict)
        return -1;
    const cardlib::CardVerdict judged = judge_copy(image_copy);
    verdict->valid = judged.accepted() ? 1 : 0;
    copy_text(cardlib::verdict_reason(judged), verdict->reason, sizeof verdict->reason);
    copy_text(cardlib::verdict_warning(judged), verdict->warning, sizeof verdict->warning);
    return 0;
}

} // extern "C"
