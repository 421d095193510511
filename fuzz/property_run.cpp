// Plays seeded pseudo-random inputs through a fuzz target's entry point,
// without libFuzzer and without coverage: the volume a property needs that
// must hold for every input (the round trip runs some 13 times as many
// inputs a second as its ASan target, 2.6 times as many as its UBSan one).
//
//   property_<target> RUNS SEED [FIRST]
//
// Input i is drawn from SEED and i alone, so one input replays with
// `property_<target> 1 SEED i`. A finding aborts in the target; the input
// that raised it is then written to property-SEED-i in the working
// directory, ready for the libFuzzer target and the seed corpus.
#include <algorithm>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace {

// The longest input the fuzz targets are given.
constexpr std::size_t kMaxInput = 4096;

std::uint64_t splitmix(std::uint64_t &state)
{
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

void draw_input(std::uint64_t seed, std::uint64_t index, std::vector<std::uint8_t> &input)
{
    std::uint64_t state = seed * 0xD1B54A32D192ED03ULL ^ index;
    input.resize(splitmix(state) % (kMaxInput + 1));
    for (std::size_t at = 0; at < input.size(); at += 8) {
        const std::uint64_t word = splitmix(state);
        std::memcpy(input.data() + at, &word, std::min<std::size_t>(8, input.size() - at));
    }
}

// What the abort handler needs, set before each input runs.
const std::vector<std::uint8_t> *current_input;
char finding_path[64];

void keep_finding(int signal_number)
{
    const int fd = ::open(finding_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        [[maybe_unused]] const ssize_t written =
            ::write(fd, current_input->data(), current_input->size());
        ::close(fd);
    }
    static constexpr char kLine[] = "property: the input that raised it is in ";
    [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, kLine, sizeof kLine - 1);
    n = ::write(STDERR_FILENO, finding_path, std::strlen(finding_path));
    n = ::write(STDERR_FILENO, "\n", 1);
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

bool read_number(const char *text, std::uint64_t &value)
{
    char *end = nullptr;
    value = std::strtoull(text, &end, 0);
    return *text != '\0' && *end == '\0';
}

} // namespace

int main(int argc, char **argv)
{
    std::uint64_t runs = 0;
    std::uint64_t seed = 0;
    std::uint64_t first = 0;
    if (argc < 3 || argc > 4 || !read_number(argv[1], runs) || !read_number(argv[2], seed) ||
        (argc == 4 && !read_number(argv[3], first))) {
        std::fprintf(stderr, "usage: %s RUNS SEED [FIRST]\n", argv[0]);
        return 2;
    }
    std::signal(SIGABRT, keep_finding);
    std::signal(SIGSEGV, keep_finding);
    std::vector<std::uint8_t> input;
    current_input = &input;
    for (std::uint64_t i = first; i < first + runs; ++i) {
        draw_input(seed, i, input);
        std::snprintf(finding_path, sizeof finding_path, "property-%llu-%llu",
                      static_cast<unsigned long long>(seed), static_cast<unsigned long long>(i));
        LLVMFuzzerTestOneInput(input.data(), input.size());
        if ((i + 1 - first) % 100000 == 0)
            std::fprintf(stderr, "property: %llu inputs\n",
                         static_cast<unsigned long long>(i + 1 - first));
    }
    std::printf("property: inputs %llu to %llu of seed %llu, no finding\n",
                static_cast<unsigned long long>(first),
                static_cast<unsigned long long>(first + runs - 1),
                static_cast<unsigned long long>(seed));
    return 0;
}
