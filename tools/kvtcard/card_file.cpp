#include "tools/kvtcard/card_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "sim/control.hpp"

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

void copy_image(const unsigned char *first, kvt::Image &image)
{
    auto out = kvt::image_bytes(image);
    std::copy(first, first + out.size(), out.begin());
}

bool load_sim(Card &card, std::string &error)
{
    const std::string root = kvtsim::root();
    const auto image = kvtsim::card_image();
    if (!image) {
        error = "sim:" + root + ": no card in the slot";
        return false;
    }
    card.source = "sim:" + root;
    card.format = "sim";
    copy_image(image->data(), card.image);
    return true;
}

} // namespace

bool card_from_bytes(std::span<const unsigned char> bytes, Card &card, std::string &error)
{
    const unsigned char *data = bytes.data();
    if (bytes.size() == KVT_IMAGE_SIZE) {
        card.format = "image";
        copy_image(data, card.image);
        return true;
    }
    if (bytes.size() == kEepromDumpSize) {
        card.format = "eeprom";
        copy_image(data + kImageOffsetInEeprom, card.image);
        return true;
    }
    const std::string size = bytes.size() > kEepromDumpSize
                                 ? "more than " + std::to_string(kEepromDumpSize) + " bytes"
                                 : std::to_string(bytes.size()) + " bytes";
    error = size + ", expected " + std::to_string(KVT_IMAGE_SIZE) + " (card image) or " +
            std::to_string(kEepromDumpSize) + " (EEPROM dump)";
    return false;
}

bool load_card(std::string_view where, Card &card, std::string &error)
{
    if (where == kSimCard)
        return load_sim(card, error);
    const std::string path(where);
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

} // namespace kvtcard
