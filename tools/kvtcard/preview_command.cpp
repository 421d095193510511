// preview: made by kvtd-preview, the daemon's own start-up rule and restore
// plans built against the SP's services, so that kvtcard carries no code
// of them. A card in a slot is read here and handed over as a dump.
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "tools/kvtcard/card_source.hpp"
#include "tools/kvtcard/invocation.hpp"
#include "tools/kvtcard/simulator.hpp"

namespace kvtcard {

namespace {

// The part in the slot, in a temporary file removed again by the caller.
bool part_in_file(const CardSource &source, const Geometry &geometry, std::string &file,
                  std::string &error)
{
    Slot slot;
    std::vector<unsigned char> part;
    if (!open_slot(source, geometry, slot, error) || !read_part(slot, part, error))
        return false;
    const char *tmp = std::getenv("TMPDIR");
    std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/kvtcard-XXXXXX";
    const int fd = ::mkstemp(name.data());
    const bool written =
        fd >= 0 && ::write(fd, part.data(), part.size()) == static_cast<ssize_t>(part.size());
    if (fd >= 0)
        ::close(fd);
    if (!written) {
        error = "cannot keep the card in a temporary file";
        ::unlink(name.c_str());
        return false;
    }
    file = name;
    return true;
}

} // namespace

int run_preview(const Invocation &run)
{
    if (run.sources.size() > 1)
        return fail("preview takes at most one card");
    // kvtd-preview reads the image at its own place, and a file as it is.
    if (run.geometry.image_address != cardlib::kImageAddress)
        return fail("preview reads the image at 0x1800 only");
    const CardSource source = run.sources.empty()
                                  ? CardSource{CardSource::Kind::sim, std::string(kSimCard)}
                                  : run.sources.front();
    std::string card = source.where;
    std::string error;
    if (source.kind == CardSource::Kind::device && !part_in_file(source, run.geometry, card, error))
        return fail(error);
    std::vector<std::string> words;
    if (run.json)
        words.emplace_back("--json");
    words.push_back(card);
    const int status = run_preview_program(words, error);
    if (card != source.where)
        ::unlink(card.c_str());
    return status < 0 ? fail(error) : status;
}

} // namespace kvtcard
