#include "tools/kvtcard/card_source.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include "cardlib/at24_device.hpp"
#include "cardlib/card_slot.hpp"
#include "tools/kvtcard/simulator.hpp"

namespace kvtcard {

namespace {

// What is wrong with the device's path itself, before any transfer: the
// backends would report either as a card that does not answer.
const char *path_problem(const cardlib::DeviceSetting &setting)
{
    struct stat st {};
    if (::stat(setting.path.c_str(), &st) != 0) {
        if (errno != ENOENT)
            return nullptr; // the backend names any other reason
        return setting.kind == cardlib::DeviceSetting::Kind::at24
                   ? "no such file (the at24 driver makes it only for a card it found)"
                   : "no such file";
    }
    if (setting.kind == cardlib::DeviceSetting::Kind::i2c_dev && !S_ISCHR(st.st_mode))
        return "not a character device (an i2c-dev bus is /dev/i2c-N)";
    return nullptr;
}

} // namespace

std::string no_card_text(const Slot &slot)
{
    char text[40];
    std::snprintf(text, sizeof text, "no card answers at 0x%02x", slot.address);
    return text;
}

bool open_slot(const CardSource &source, const Geometry &geometry, Slot &slot, std::string &error)
{
    const cardlib::EepromPart part = geometry.part.value_or(cardlib::kPart24c64);
    if (source.kind == CardSource::Kind::sim) {
        std::string path;
        if (!simulated_card_path(path, error))
            return false;
        slot.device = std::make_unique<cardlib::At24Device>(path, part);
        slot.name = "sim:" + path;
        slot.simulated = true;
        slot.file = path;
        return true;
    }
    if (source.kind != CardSource::Kind::device) {
        error = source.where + " is a file: name the slot with --device PATH or --sim";
        return false;
    }
    const auto setting = cardlib::parse_device_setting(source.where, error);
    if (!setting) {
        error = "--device " + source.where + ": " + error;
        return false;
    }
    if (const char *problem = path_problem(*setting)) {
        error = setting->path + ": " + problem;
        return false;
    }
    slot.device = cardlib::open_device(*setting, part, error);
    slot.name = setting->name();
    slot.address = setting->address;
    return slot.device != nullptr;
}

std::string open_slot_and_files(std::string_view command, std::size_t files, const Invocation &run,
                                Slot &slot, std::vector<std::string> &names)
{
    const std::string name(command);
    const CardSource *source = nullptr;
    for (const CardSource &candidate : run.sources) {
        if (candidate.in_slot() && source)
            return name + " takes one slot";
        if (candidate.in_slot())
            source = &candidate;
        else
            names.push_back(candidate.where);
    }
    if (!source)
        return name + " needs --device PATH or --sim";
    if (names.size() != files)
        return name + " takes " + std::to_string(files) + " file(s)";
    std::string error;
    open_slot(*source, run.geometry, slot, error);
    return error;
}

bool read_part(Slot &slot, std::vector<unsigned char> &part, std::string &error)
{
    part.assign(slot.device->part_size(), 0);
    if (slot.device->read(0, part) == 0)
        return true;
    error = slot.name + ": cannot read the card: " + std::strerror(errno);
    if (errno == ENXIO || errno == EREMOTEIO)
        error += " (" + no_card_text(slot) + ")";
    return false;
}

bool load_source(const CardSource &source, const Geometry &geometry, Card &card, std::string &error)
{
    if (!source.in_slot())
        return load_card(source.where, geometry, card, error);
    Slot slot;
    std::vector<unsigned char> part;
    if (!open_slot(source, geometry, slot, error))
        return false;
    if (slot.simulated && ::access(slot.file.c_str(), F_OK) != 0) {
        error = slot.name + ": no card in the slot";
        return false;
    }
    if (!read_part(slot, part, error))
        return false;
    Geometry read = geometry;
    read.part = cardlib::part_of_size(part.size());
    if (!card_from_bytes(part, read, card, error))
        return false;
    card.source = slot.name;
    card.format = source.kind == CardSource::Kind::sim ? "sim" : "device";
    return true;
}

} // namespace kvtcard
