// write: a card image onto the card in a slot, through the card library as
// kvtd writes it (its record first, then only the pages that differ), then
// read back and compared. Without --force it only tells what it would do.
// With --whole the file is a dump of the whole part, put back page by page
// as it is (records, spare bytes and all), as `save` took it.
//
// While kvtd runs on the SP of the slot, the card is its copy of the SP's
// configuration: a card written under it is never restored to the SP (kvtd
// restores only at start), and its next change lands on the new card. So a
// write is refused then, unless --live asks for it; even so the write goes
// through the card library's record, from which kvtd learns that its copy
// of the card is stale and reads the card again before its next write, so
// the card stays whole.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cardlib/card_copy.hpp"
#include "service/status.hpp"
#include "tools/kvtcard/card_source.hpp"
#include "tools/kvtcard/invocation.hpp"
#include "tools/kvtcard/live_daemon.hpp"
#include "tools/kvtcard/simulator.hpp"

namespace kvtcard {

namespace {

using Image = std::array<unsigned char, KVT_IMAGE_SIZE>;
using Bytes = std::vector<unsigned char>;

constexpr const char *kWholeDump = "a whole dump";

// Card addresses of the pages holding a byte in which the images differ.
std::vector<std::size_t> pages_differing(const Image &card, const Image &file,
                                         std::size_t image_address, std::size_t page)
{
    std::vector<std::size_t> pages;
    for (std::size_t i = 0; i < card.size(); ++i) {
        const std::size_t at = (image_address + i) / page * page;
        if (card[i] != file[i] && (pages.empty() || pages.back() != at))
            pages.push_back(at);
    }
    return pages;
}

std::string hex(std::size_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04zx", value);
    return text;
}

std::string error_text(const Slot &slot, const char *what)
{
    return slot.name + ": " + what + ": " + std::strerror(errno);
}

// Reads the card again and compares its image with the file's.
std::string read_back(Slot &slot, std::size_t image_address, const Image &file)
{
    cardlib::CardCopy check(image_address);
    if (check.read_card(*slot.device) != 0)
        return error_text(slot, "cannot read the card back");
    for (std::size_t i = 0; i < file.size(); ++i)
        if (check.image().at(i) != file[i])
            return slot.name + ": read back differs first at " + hex(image_address + i);
    return {};
}

void report(const Invocation &run, const Slot &slot, const std::string &file,
            const std::string &verdict, const std::vector<std::size_t> &pages, bool written)
{
    Node addresses = Node::array();
    for (const std::size_t page : pages)
        addresses.push(Node::hex(page, 4));
    if (run.json) {
        print(Node::object()
                  .set("device", Node::text(slot.name))
                  .set("file", Node::text(file))
                  .set("file_verdict", Node::text(verdict))
                  .set("pages", std::move(addresses))
                  .set("written", Node::boolean(written)),
              true);
        return;
    }
    std::printf("%s (%s) onto %s: %zu page(s) differ", file.c_str(), verdict.c_str(),
                slot.name.c_str(), pages.size());
    for (const std::size_t page : pages)
        std::printf(" %s", hex(page).c_str());
    if (pages.empty())
        std::printf("; the card already holds it\n");
    else if (written && verdict == kWholeDump)
        std::printf("\nwritten, and read back the same\n");
    else if (written)
        std::printf("\nwritten with the card library's record, and read back the same\n");
    else
        std::printf("\nnot written: give --force to write\n");
}

// How --live may answer a running kvtd: a write through the card library's
// record may go on (kvtd's check of its copy finds the record); a whole
// dump may not, as it puts back record slots too.
enum class Live : bool { refused, allowed };

// "" when the card may be written: no kvtd runs on the slot's SP, or --live
// was given where it may be. Otherwise why not, and how to go on.
std::string live_refusal(const Invocation &run, Live live, const Slot &slot)
{
    std::string status = sp_status_path();
    std::string error;
    if (slot.simulated && !simulated_path(kvt::status::kPath, status, error))
        return error;
    const std::string pid = running_kvtd(status);
    if (pid.empty() || (run.live && live == Live::allowed))
        return {};
    return slot.name + ": kvtd (pid " + pid +
           ") runs on this SP and keeps the card in step with the SP's configuration: a card "
           "written under it is not restored to the SP, and kvtd's next change is written onto "
           "it. Stop kvtd first (systemctl stop kvtd) and start it again after the write" +
           (live == Live::allowed ? ", or give --live to write all the same (kvtd reads the card "
                                    "again before its next write)"
                                  : "; --whole never writes under a running kvtd");
}

// Card addresses of the pages in which two dumps of the part differ.
std::vector<std::size_t> pages_differing(const Bytes &card, const Bytes &file, std::size_t page)
{
    std::vector<std::size_t> pages;
    for (std::size_t at = 0; at < card.size(); at += page)
        if (!std::equal(card.begin() + static_cast<long>(at),
                        card.begin() + static_cast<long>(at + page),
                        file.begin() + static_cast<long>(at)))
            pages.push_back(at);
    return pages;
}

int write_whole(const Invocation &run, Slot &slot, const std::string &file)
{
    Bytes dump;
    Bytes card;
    std::string error;
    if (!read_file(file, dump, error))
        return fail(error);
    cardlib::EepromDevice &device = *slot.device;
    if (dump.size() != device.part_size())
        return fail(file + " is " + std::to_string(dump.size()) + " bytes; --whole takes a dump " +
                    "of the whole part, " + std::to_string(device.part_size()) +
                    " bytes here (--part names another)");
    if (!read_part(slot, card, error))
        return fail(error);
    const std::size_t page = device.page_size();
    const auto pages = pages_differing(card, dump, page);
    const bool write = run.force && !pages.empty();
    if (write)
        if (const std::string refusal = live_refusal(run, Live::refused, slot); !refusal.empty())
            return fail(refusal);
    for (const std::size_t at : write ? pages : std::vector<std::size_t>{})
        if (device.program(at, std::span(dump).subspan(at, page)) != 0)
            return fail(error_text(slot, "write failed"));
    if (write && (!read_part(slot, card, error) || card != dump))
        return fail(error.empty() ? slot.name + ": read back differs from " + file : error);
    report(run, slot, file, kWholeDump, pages, write);
    return pages.empty() || write ? kExitOk : kExitNo;
}

} // namespace

int run_write(const Invocation &run)
{
    Slot slot;
    std::vector<std::string> files;
    if (const std::string error = open_slot_and_files("write", 1, run, slot, files); !error.empty())
        return fail(error);
    if (run.whole)
        return write_whole(run, slot, files.front());
    Card card;
    std::string error;
    if (!load_card(files.front(), run.geometry, card, error))
        return fail(error);
    Image image{};
    const auto bytes = kvt::image_bytes(card.image);
    std::copy(bytes.begin(), bytes.end(), image.begin());

    cardlib::CardCopy copy(run.geometry.image_address);
    if (copy.read_card(*slot.device) != 0)
        return fail(error_text(slot, "cannot read the card"));
    const auto pages =
        pages_differing(copy.image(), image, run.geometry.image_address, slot.device->page_size());
    const bool write = run.force && !pages.empty();
    if (write)
        if (const std::string refusal = live_refusal(run, Live::allowed, slot); !refusal.empty())
            return fail(refusal);
    if (write && copy.write(*slot.device, 0, image) != 0)
        return fail(error_text(slot, "write failed"));
    if (write)
        if (const std::string differs = read_back(slot, run.geometry.image_address, image);
            !differs.empty())
            return fail(differs);
    report(run, slot, files.front(), cardlib::verdict_reason(card_verdict(card)), pages, write);
    return pages.empty() || write ? kExitOk : kExitNo;
}

} // namespace kvtcard
