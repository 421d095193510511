#include "tools/kvtcard/card_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "cardlib/layout.hpp"

namespace kvtcard {

namespace {

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};

// Reads at most one byte more than the largest accepted size, enough to
// tell every wrong size apart without reading a huge file whole.
bool read_head(const std::string &path, std::vector<unsigned char> &bytes, std::string &error)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    bytes.resize(kEepromDumpSize + 1);
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file.get());
    if (std::ferror(file.get())) {
        error = path + ": cannot read: " + std::strerror(errno);
        return false;
    }
    bytes.resize(got);
    return true;
}

void copy_image(std::span<const unsigned char> from, kvt::Image &image)
{
    auto out = kvt::image_bytes(image);
    std::copy_n(from.begin(), out.size(), out.begin());
}

std::optional<cardlib::Record> newest_in_dump(std::span<const unsigned char> part)
{
    const cardlib::CardLayout layout = cardlib::layout_for(part.size(), kDumpPageSize);
    if (layout.slot_count == 0)
        return std::nullopt;
    const auto found = cardlib::newest_record(part.subspan(layout.first_slot), layout.page_size,
                                              layout.slot_count);
    if (!found)
        return std::nullopt;
    return found->record;
}

} // namespace

bool card_from_bytes(std::span<const unsigned char> bytes, Card &card, std::string &error)
{
    if (bytes.size() == KVT_IMAGE_SIZE) {
        card.format = "image";
        copy_image(bytes, card.image);
        card.record.reset();
        return true;
    }
    if (bytes.size() == kEepromDumpSize) {
        card.format = "eeprom";
        copy_image(bytes.subspan(cardlib::kImageAddress), card.image);
        card.record = newest_in_dump(bytes);
        return true;
    }
    const std::string size = bytes.size() > kEepromDumpSize
                                 ? "more than " + std::to_string(kEepromDumpSize) + " bytes"
                                 : std::to_string(bytes.size()) + " bytes";
    error = size + ", expected " + std::to_string(KVT_IMAGE_SIZE) + " (card image) or " +
            std::to_string(kEepromDumpSize) + " (EEPROM dump)";
    return false;
}

bool load_card(const std::string &path, Card &card, std::string &error)
{
    std::vector<unsigned char> bytes;
    if (!read_head(path, bytes, error))
        return false;
    card.source = path;
    if (!card_from_bytes(bytes, card, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

cardlib::CardVerdict card_verdict(const Card &card)
{
    return cardlib::classify_card(kvt::image_bytes(card.image), card.record);
}

} // namespace kvtcard
