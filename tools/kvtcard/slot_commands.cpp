// detect and save: the card in a slot, as i2cdetect and eeprog see it.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "tools/kvtcard/card_source.hpp"
#include "tools/kvtcard/invocation.hpp"

namespace kvtcard {

namespace {

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};

bool write_file(const std::string &path, std::span<const unsigned char> bytes, std::string &error)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() ||
        std::fflush(file.get()) != 0) {
        error = path + ": cannot write: " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace

int run_detect(const Invocation &run)
{
    Slot slot;
    std::vector<std::string> files;
    if (const std::string error = open_slot_and_files("detect", 0, run, slot, files);
        !error.empty())
        return fail(error);
    const bool present = slot.device->present();
    const int error = errno;
    Node result =
        Node::object().set("device", Node::text(slot.name)).set("present", Node::boolean(present));
    if (!present)
        result.set("error", Node::text(std::strerror(error)));
    if (run.json)
        print(result, true);
    else if (present)
        std::printf("%s: a card answers\n", slot.name.c_str());
    else
        std::printf("%s: %s (%s)\n", slot.name.c_str(), no_card_text(slot).c_str(),
                    std::strerror(error));
    return present ? kExitOk : kExitNo;
}

int run_save(const Invocation &run)
{
    Slot slot;
    std::vector<std::string> files;
    if (const std::string error = open_slot_and_files("save", 1, run, slot, files); !error.empty())
        return fail(error);
    std::vector<unsigned char> part;
    std::string error;
    if (!read_part(slot, part, error) || !write_file(files.front(), part, error))
        return fail(error);
    const Node result = Node::object()
                            .set("source", Node::text(slot.name))
                            .set("file", Node::text(files.front()))
                            .set("bytes", Node::number(static_cast<long long>(part.size())));
    if (run.json)
        print(result, true);
    else
        std::printf("saved %zu bytes from %s to %s\n", part.size(), slot.name.c_str(),
                    files.front().c_str());
    return kExitOk;
}

} // namespace kvtcard
