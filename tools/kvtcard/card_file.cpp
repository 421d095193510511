#include "tools/kvtcard/card_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/card_lib.h"

namespace kvtcard {

namespace {

constexpr std::size_t kLargestPart = KVT_LARGEST_PART;

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};

void copy_image(std::span<const unsigned char> from, kvt::Image &image)
{
    auto out = kvt::image_bytes(image);
    std::copy_n(from.begin(), out.size(), out.begin());
}

std::optional<cardlib::Record> newest_in_dump(std::span<const unsigned char> part,
                                              const cardlib::EepromPart &kind,
                                              std::size_t image_address)
{
    const cardlib::CardLayout layout = cardlib::layout_for(part.size(), kind.page, image_address);
    if (layout.slot_count == 0)
        return std::nullopt;
    const auto found = cardlib::newest_record(part.subspan(layout.first_slot), layout.page_size,
                                              layout.slot_count);
    if (!found)
        return std::nullopt;
    return found->record;
}

std::string size_error(std::size_t size, const Geometry &geometry)
{
    const std::string got =
        size > kLargestPart ? "more than " + std::to_string(kLargestPart) : std::to_string(size);
    const std::string dump = geometry.part ? std::to_string(geometry.part->size) + " (" +
                                                 std::string(geometry.part->name) + " dump)"
                                           : std::to_string(kEepromDumpSize) + " (EEPROM dump)";
    return got + " bytes, expected " + std::to_string(KVT_IMAGE_SIZE) + " (card image) or " + dump;
}

} // namespace

bool card_from_bytes(std::span<const unsigned char> bytes, const Geometry &geometry, Card &card,
                     std::string &error)
{
    card.image_address = geometry.image_address;
    if (bytes.size() == KVT_IMAGE_SIZE) {
        card.format = "image";
        copy_image(bytes, card.image);
        card.record.reset();
        return true;
    }
    const auto part = geometry.part ? geometry.part : cardlib::part_of_size(bytes.size());
    if (!part || part->size != bytes.size()) {
        error = size_error(bytes.size(), geometry);
        return false;
    }
    if (geometry.image_address > part->size - KVT_IMAGE_SIZE) {
        error = "the image does not fit in the part at that offset";
        return false;
    }
    card.format = "eeprom";
    copy_image(bytes.subspan(geometry.image_address), card.image);
    card.record = newest_in_dump(bytes, *part, geometry.image_address);
    return true;
}

bool card_from_bytes(std::span<const unsigned char> bytes, Card &card, std::string &error)
{
    return card_from_bytes(bytes, Geometry{}, card, error);
}

// Reads at most one byte more than the largest accepted size, enough to
// tell every wrong size apart without reading a huge file whole.
bool read_file(const std::string &path, std::vector<unsigned char> &bytes, std::string &error)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    bytes.resize(kLargestPart + 1);
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file.get());
    if (std::ferror(file.get())) {
        error = path + ": cannot read: " + std::strerror(errno);
        return false;
    }
    bytes.resize(got);
    return true;
}

bool load_card(const std::string &path, const Geometry &geometry, Card &card, std::string &error)
{
    std::vector<unsigned char> bytes;
    if (!read_file(path, bytes, error))
        return false;
    card.source = path;
    if (!card_from_bytes(bytes, geometry, card, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool load_card(const std::string &path, Card &card, std::string &error)
{
    return load_card(path, Geometry{}, card, error);
}

cardlib::CardVerdict card_verdict(const Card &card)
{
    return cardlib::classify_card(kvt::image_bytes(card.image), card.record, card.image_address);
}

} // namespace kvtcard
