// The card slot as the tests and the kvtsim tool handle it: pulling,
// putting back and replacing cards, and reading what a card holds.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "card/sections.hpp"
#include "cardlib/verdict.hpp"
#include "platform/card_lib.h"
#include "sim/card/card_chip.hpp"
#include "sim/card/eeprom.hpp"
#include "sim/control.hpp"
#include "sim/root/files.hpp"

namespace kvtsim {

namespace {

int insert_part(const std::vector<unsigned char> &part)
{
    return change_slot([&] {
        eeprom::new_generation();
        return files::replace(eeprom::path(), std::span<const unsigned char>(part)) ? 0 : -1;
    });
}

void recompute_checksums(ImageBytes &image)
{
    for (const kvt::SectionSpan &s : kvt::kSectionMap)
        calculate_xor_checksum(&image.at(s.first), static_cast<int>(s.length), &image.at(s.cksum));
}

} // namespace

bool card_present()
{
    return files::exists(eeprom::path());
}

int card_pull()
{
    return change_slot([] {
        eeprom::new_generation();
        return std::rename(eeprom::path().c_str(), eeprom::pulled_path().c_str()) == 0 ? 0 : -1;
    });
}

int card_insert()
{
    if (!files::exists(eeprom::pulled_path()))
        return card_present() ? 0 : -1;
    return change_slot([] {
        eeprom::new_generation();
        return std::rename(eeprom::pulled_path().c_str(), eeprom::path().c_str()) == 0 ? 0 : -1;
    });
}

int card_insert_blank(std::size_t part_size)
{
    return insert_part(std::vector<unsigned char>(part_size, 0xFF));
}

int card_insert_image(std::span<const unsigned char, kImageSize> image)
{
    std::vector<unsigned char> part(kEepromSize, 0xFF);
    std::copy(image.begin(), image.end(), part.begin() + kImageOffset);
    return insert_part(part);
}

int card_insert_eeprom(std::span<const unsigned char> part)
{
    return insert_part(std::vector<unsigned char>(part.begin(), part.end()));
}

ImageBytes foreign_image(const Mac &mac)
{
    ImageBytes image{};
    const auto current = card_image();
    if (current && cardlib::classify_card(*current, std::nullopt).accepted())
        image = *current;
    else
        image[0] = kvt::kImageVersion;
    std::copy(mac.begin(), mac.end(), image.begin() + 1);
    recompute_checksums(image);
    return image;
}

std::optional<ImageBytes> card_image()
{
    ImageBytes image{};
    if (eeprom::peek(kImageOffset, image.data(), image.size()) != 0)
        return std::nullopt;
    return image;
}

std::vector<unsigned char> card_eeprom()
{
    const auto text = files::read(eeprom::path());
    if (!text)
        return {};
    return std::vector<unsigned char>(text->begin(), text->end());
}

} // namespace kvtsim
