// A seeded model of two SPs running kvtd, two cards, and another
// implementation of the card format that writes sections with right
// checksums and its own MAC into the header and never touches a byte
// outside the image. Random steps: start-ups (with a power cut at any byte
// of their write), live changes (likewise, with changes whose mixes keep the
// XOR checksum right), stops, kill -9, cards moved between the SPs and the
// other writer, kvtcard writing on a live SP, a card swapped during the
// monitor's minute on SP B, which has no card-change line. After every step:
//  - a card is refused for a cut only when the card library's newest write
//    on it was cut, or another writer changed the card since that write
//    (the ambiguity that remains, counted: docs/reliability.md);
//  - a section a cut left mixed is never taken for good data;
//  - after every completed kvtd write all nine checksums are right;
//  - no fatal stop: nothing here is a reason for one;
//  - a restore takes the card's configuration;
//  - kvtcard verify gives kvtd's verdict.
// KVT_MODEL_SEED=N replays scenario N step by step; KVT_MODEL_SCENARIOS=N
// runs N scenarios from KVT_MODEL_FIRST_SEED (default 1).
#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "card/sections.hpp"
#include "cardlib/layout.hpp"
#include "sim/control.hpp"
#include "sim/em/audit.hpp"
#include "tests/e2e/card_watch.hpp"
#include "tests/support/tool_run.hpp"

namespace kvttest {
namespace {

using Part = std::vector<unsigned char>;
using kvtsim::ImageBytes;

constexpr const char *kLinkUp = "registered for events\n";
constexpr kvtsim::Mac kOtherMac{0x00, 0x14, 0x4f, 0x00, 0x0c, 0x07};

// A setting both kvtd (through the SP's object) and the other writer (on
// the card) change. Customer information's first four values differ from
// each other by the same bits in the two bytes on each side of a card page
// boundary: a cut between the pages keeps the checksum right.
struct Setting {
    const char *object;
    std::vector<std::string> values;
    std::string (*on_card)(const kvt::Image &);
    void (*store)(kvt::Image &, const std::string &);
};

const Setting kSettings[] = {
    {"/X/system_identifier",
     {"rack ABAB row 4", "rack BABA row 4", "rack ABBA row 4", "rack BAAB row 4", "shelf 9"},
     [](const kvt::Image &i) { return std::string(i.customerinfo.view()); },
     [](kvt::Image &i, const std::string &v) { i.customerinfo.store(v); }},
    {"/X/clients/smtp/port",
     {"25", "26", "27", "587", "2525"},
     [](const kvt::Image &i) { return std::to_string(i.mailhost_port.get()); },
     [](kvt::Image &i, const std::string &v) {
         i.mailhost_port.set(static_cast<std::uint16_t>(std::stoi(v)));
     }},
    {"/X/darvcli/timeout",
     {"0", "60", "300", "3600"},
     [](const kvt::Image &i) { return std::to_string(i.cli_timeout.get()); },
     [](kvt::Image &i, const std::string &v) {
         i.cli_timeout.set(static_cast<std::uint32_t>(std::stoul(v)));
     }},
};

kvt::Image image_of(const Part &part)
{
    kvt::Image image{};
    std::memcpy(&image, &part.at(kvtsim::kImageOffset), sizeof image);
    return image;
}

void put_image(Part &part, const kvt::Image &image)
{
    const auto bytes = kvt::image_bytes(image);
    std::copy(bytes.begin(), bytes.end(), part.begin() + kvtsim::kImageOffset);
}

// Every checksum right, and the current version.
bool sound(const kvt::Image &image)
{
    const auto bytes = kvt::image_bytes(image);
    for (const kvt::SectionSpan &span : kvt::kSectionMap) {
        unsigned char sum = 0;
        calculate_xor_checksum(&bytes[span.first], static_cast<int>(span.length), &sum);
        if (sum != bytes[span.cksum])
            return false;
    }
    return image.hdr_version == kvt::kImageVersion;
}

bool same_section(const kvt::Image &a, const kvt::Image &b, std::size_t s)
{
    const kvt::SectionSpan &span = kvt::kSectionMap.at(s);
    return std::memcmp(&kvt::image_bytes(a)[span.first], &kvt::image_bytes(b)[span.first],
                       span.length + 1) == 0;
}

// Configuration sections (2 to 9, bit s) in which `c` is neither `o` nor `n`.
unsigned mixed(const kvt::Image &o, const kvt::Image &n, const kvt::Image &c)
{
    unsigned sections = 0;
    for (std::size_t s = 1; s < kvt::kSectionMap.size(); ++s)
        if (!same_section(c, o, s) && !same_section(c, n, s))
            sections |= 1u << s;
    return sections;
}

// Configuration sections in which `a` and `b` differ.
unsigned differing(const kvt::Image &a, const kvt::Image &b)
{
    return mixed(a, a, b);
}

// What the model knows of a card beyond its bytes.
struct CardState {
    bool cut = false;     // the library's newest write on it was cut, none completed since
    bool touched = false; // another writer changed it since the library's newest write
    unsigned torn = 0;    // sections a cut left mixed that nobody has written since
    Part bench;           // the card while it lies on the bench
    kvt::Image found{};   // what the library's newest write found, and meant to leave
    kvt::Image meant{};
};

// Where another writer's change that the verdict took for a cut lies, in
// the sections the library's newest write changed: all of it in one card
// page, and whether it set a page back to what that write found there.
struct Ambiguity {
    bool one_page = true;
    bool set_back = false;
};

Ambiguity ambiguity_of(const CardState &state, const kvt::Image &card)
{
    const auto c = kvt::image_bytes(card);
    const auto n = kvt::image_bytes(state.meant);
    const auto o = kvt::image_bytes(state.found);
    constexpr std::size_t kPage = 32;
    Ambiguity found;
    bool seen = false;
    for (std::size_t s = 1; s < kvt::kSectionMap.size(); ++s) {
        if (same_section(state.found, state.meant, s))
            continue;
        const kvt::SectionSpan &span = kvt::kSectionMap.at(s);
        for (std::size_t p = span.first / kPage * kPage; p <= span.cksum; p += kPage) {
            const auto from = static_cast<long>(std::max(p, span.first));
            const auto end = static_cast<long>(std::min(p + kPage, span.cksum + 1));
            const auto same = [&](auto a, auto b) {
                return std::equal(a.begin() + from, a.begin() + end, b.begin() + from);
            };
            if (same(c, n))
                continue;
            found.one_page = found.one_page && !seen;
            seen = true;
            found.set_back = found.set_back || (same(c, o) && !same(o, n));
        }
    }
    return found;
}

struct Sp {
    const char *name;
    std::string dir;
    std::optional<Daemon> kvtd;
    int card = -1; // the card in its slot
};

struct Totals {
    unsigned scenarios = 0, steps = 0, starts = 0, restores = 0, cuts = 0, torn_cuts = 0;
    unsigned refused_after_cut = 0, starts_after_other_writer = 0, ambiguous = 0;
    unsigned ambiguous_one_page = 0, ambiguous_set_back = 0;
};

class Model {
  public:
    Model(unsigned seed, Totals &totals, bool verbose)
        : rng_(seed), seed_(seed), totals_(totals), verbose_(verbose)
    {
        for (Sp &sp : sps_) {
            use(sp);
            EXPECT_EQ(kvtsim::em_start(KVT_BINARY_DIR "/kvtsim-em"), 0);
            sp.card = &sp == &sps_[0] ? 0 : 1;
        }
        use(sps_[1]);
        kvtsim::fault_set("card.detect"); // SP B has no card-change line
        ++totals_.scenarios;
    }

    ~Model()
    {
        for (Sp &sp : sps_) {
            use(sp);
            sp.kvtd.reset();
            kvtsim::em_stop();
        }
    }

    Model(const Model &) = delete;
    Model &operator=(const Model &) = delete;

    // Plays `steps` random steps; false at the first broken invariant.
    bool play(unsigned steps)
    {
        for (unsigned n = 0; n < steps && !failed_; ++n) {
            ++totals_.steps;
            step();
        }
        return !failed_;
    }

    std::string history() const { return "seed " + std::to_string(seed_) + ":\n" + log_.str(); }

  private:
    void use(Sp &sp) { kvtsim::use_root(sp.dir); }
    unsigned pick(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(rng_); }
    bool chance(unsigned percent) { return pick(100) < percent; }

    void note(const std::string &what)
    {
        log_ << "  " << what << "\n";
        if (verbose_)
            std::printf("  %s\n", what.c_str());
    }

    void fail(const std::string &what)
    {
        failed_ = true;
        ADD_FAILURE() << what << "\n" << history();
    }

    int card_on_bench()
    {
        for (int c = 0; c < 2; ++c)
            if (sps_[0].card != c && sps_[1].card != c)
                return c;
        return -1;
    }

    // One step, drawn among those the state allows, by weight.
    void step()
    {
        std::vector<std::pair<unsigned, std::function<void()>>> steps;
        const int bench = card_on_bench();
        for (Sp &sp : sps_) {
            const auto on = [&](unsigned weight, void (Model::*what)(Sp &)) {
                steps.emplace_back(weight, [this, &sp, what] {
                    use(sp);
                    (this->*what)(sp);
                });
            };
            if (sp.kvtd) {
                on(6, &Model::change);
                on(1, &Model::stop);
                on(1, &Model::kill);
                on(1, &Model::kvtcard_write);
                if (&sp == &sps_[1])
                    on(1, &Model::swap_during_the_minute);
            } else if (sp.card >= 0) {
                on(4, &Model::start);
                on(2, &Model::to_bench);
            } else if (bench >= 0) {
                on(3, &Model::from_bench);
            }
        }
        if (bench >= 0)
            steps.emplace_back(3, [this, bench] { other_writer(bench); });
        unsigned total = 0;
        for (const auto &[weight, what] : steps)
            total += weight;
        for (unsigned at = pick(total);; at -= steps.front().first, steps.erase(steps.begin()))
            if (at < steps.front().first)
                return steps.front().second();
    }

    // ---- the other implementation -------------------------------------------
    // It changes one setting of a card it accepts (the acceptance rule is
    // all it knows); onto any other card it writes a configuration of its
    // own, whole.
    void edit(Part &part, CardState &state, bool header)
    {
        kvt::Image image = image_of(part);
        const kvt::Image before = image;
        if (!sound(image)) {
            image = kvt::Image{};
            image.hdr_version = kvt::kImageVersion;
            header = true;
            note("other writer: a configuration of its own");
        }
        const Setting &setting = kSettings[pick(std::size(kSettings))];
        std::vector<std::string> others;
        for (const std::string &value : setting.values)
            if (value != setting.on_card(image))
                others.push_back(value);
        const std::string value = others.at(pick(others.size()));
        setting.store(image, value);
        if (header)
            std::copy(kOtherMac.begin(), kOtherMac.end(), image.sp_mac);
        kvt::update_all_checksums(image);
        put_image(part, image);
        const unsigned changed = differing(before, image);
        state.touched = state.touched || changed != 0;
        state.torn &= ~changed;
        note(std::string("other writer: ") + setting.object + " = " + value +
             (header ? ", its MAC" : ""));
    }

    void other_writer(int card) { edit(cards_[card].bench, cards_[card], chance(70)); }

    void to_bench(Sp &sp)
    {
        cards_[sp.card].bench = kvtsim::card_eeprom();
        ASSERT_EQ(kvtsim::card_pull(), 0);
        note(std::string("card ") + std::to_string(sp.card) + " from " + sp.name + " to the bench");
        sp.card = -1;
    }

    void from_bench(Sp &sp)
    {
        sp.card = card_on_bench();
        ASSERT_EQ(kvtsim::card_insert_eeprom(cards_[sp.card].bench), 0);
        note(std::string("card ") + std::to_string(sp.card) + " into " + sp.name);
    }

    // ---- kvtd ---------------------------------------------------------------
    // Arms a power cut at a random byte, often the one between the two pages
    // of a change of customer information.
    void arm_power_cut()
    {
        std::remove(kvtsim::sim_path("card/power_cut").c_str());
        const unsigned slot = cardlib::kSlotSize;
        const long at = chance(40) ? slot + 2 : pick(slot + 120);
        kvtsim::fault_set("card.power_cut", at, 1);
        note("power cut armed at byte " + std::to_string(at));
    }

    // The image the write that met the power cut meant to leave; nullopt
    // when it wrote nothing.
    std::optional<kvt::Image> meant(const Part &before)
    {
        kvtsim::fault_clear("card.power_cut");
        std::istringstream notes(read_file(kvtsim::sim_path("card/power_cut")));
        Part part = before;
        bool any = false;
        for (std::string address, bytes; notes >> address >> bytes; any = true)
            for (std::size_t i = 0; i * 2 < bytes.size(); ++i)
                part.at(std::stoul(address, nullptr, 16) + i) =
                    static_cast<unsigned char>(std::stoul(bytes.substr(i * 2, 2), nullptr, 16));
        if (!any)
            return std::nullopt;
        return image_of(part);
    }

    // A write of the card library's ended (it meant `n`): whole, or cut.
    void written(Sp &sp, const kvt::Image &o, const kvt::Image &n)
    {
        CardState &state = cards_[sp.card];
        const kvt::Image c = image_of(kvtsim::card_eeprom());
        state.found = o;
        state.meant = n;
        if (std::memcmp(&c, &n, sizeof c) == 0) {
            state.cut = false;
            state.touched = false;
            state.torn = 0;
            if (!sound(c))
                fail(std::string("a completed write left a checksum wrong on ") + sp.name);
            return;
        }
        ++totals_.cuts;
        state.cut = true;
        state.touched = false;
        state.torn = (state.torn & ~differing(o, n)) | mixed(o, n, c);
        totals_.torn_cuts += state.torn != 0 ? 1 : 0;
        note("  cut; sections left mixed: " + std::to_string(state.torn));
        sp.kvtd.reset(); // the power is gone: kill -9
    }

    void sync(Sp &sp)
    {
        const std::string mark = std::to_string(++marks_);
        kvtsim::audit_post_luapi(3, 1, "/X/model/step", mark);
        if (!wait_for_log("\tpath </X/model/step> val <" + mark + "> 1"))
            fail(std::string("kvtd on ") + sp.name + " took no more events");
    }

    void start(Sp &sp)
    {
        ++totals_.starts;
        const bool cut = chance(30);
        const Part before = kvtsim::card_eeprom();
        const ToolRun verify = kvtcard("verify --sim");
        clear_log();
        note(std::string("start kvtd on ") + sp.name + " with card " + std::to_string(sp.card));
        if (cut)
            arm_power_cut();
        sp.kvtd.emplace();
        if (!wait_for_log(kRunning) || !wait_for_log(kLinkUp))
            return fail("kvtd did not start:\n" + kvtsim::path_in_root("/var/log/kvtd.log") + "\n" +
                        read_file(kvtsim::path_in_root("/var/log/kvtd.log")));
        const std::string decision =
            line_after(read_file(kvtsim::path_in_root("/var/log/kvtd.log")), "startup decision: ");
        note("  " + decision);
        const std::string verdict = line_after(verify.out, "verdict: ");
        if (verdict.empty() || decision.find(verdict) == std::string::npos)
            fail("kvtcard verify says \"" + verdict + "\", kvtd \"" + decision + "\"");
        judge_decision(sp, decision, image_of(before));
        wrote(sp, before, cut);
    }

    // What kvtd wrote in a step, if anything: with a power cut armed, what
    // its write meant; otherwise what the card holds now.
    void wrote(Sp &sp, const Part &before, bool cut)
    {
        if (cut) {
            if (const auto n = meant(before))
                written(sp, image_of(before), *n);
            return;
        }
        if (kvtsim::card_eeprom() != before)
            written(sp, image_of(before), image_of(kvtsim::card_eeprom()));
    }

    void judge_decision(Sp &sp, const std::string &decision, const kvt::Image &card)
    {
        CardState &state = cards_[sp.card];
        const bool refused = decision.rfind("capture", 0) == 0;
        const bool cut_reason = decision.find("write interrupted") != std::string::npos;
        if (!state.cut && state.touched)
            ++totals_.starts_after_other_writer;
        if (refused && state.cut)
            ++totals_.refused_after_cut;
        if (cut_reason && !state.cut && state.touched) {
            const Ambiguity kind = ambiguity_of(state, card);
            ++totals_.ambiguous;
            totals_.ambiguous_one_page += kind.one_page ? 1 : 0;
            totals_.ambiguous_set_back += kind.set_back ? 1 : 0;
            note(std::string("  (another writer's change taken for a cut") +
                 (kind.one_page ? ", in one page" : "") +
                 (kind.set_back ? ", setting a page back" : "") + ")");
        }
        if (cut_reason && !state.cut && !state.touched)
            fail("refused for a cut that never happened");
        if (refused && !cut_reason && decision.find("blank") == std::string::npos && !state.cut)
            fail("refused though no cut happened: " + decision);
        if (!refused && state.torn != 0)
            fail("a section a cut left mixed was taken for good data: " + decision);
        if (decision.rfind("restore", 0) != 0)
            return;
        ++totals_.restores;
        for (const Setting &setting : kSettings)
            if (kvtsim::object_get(setting.object) != setting.on_card(card))
                fail(std::string("the restore did not take ") + setting.object);
    }

    void change(Sp &sp)
    {
        const Setting &setting = kSettings[pick(std::size(kSettings))];
        const std::string value = setting.values.at(pick(setting.values.size()));
        const bool cut = chance(30);
        const Part before = kvtsim::card_eeprom();
        note(std::string("on ") + sp.name + ": " + setting.object + " = " + value);
        if (cut)
            arm_power_cut();
        ASSERT_EQ(kvtsim::object_set(setting.object, value), 0);
        sync(sp);
        wrote(sp, before, cut);
        if (sp.kvtd)
            no_fatal_stop(sp);
    }

    void kill(Sp &sp)
    {
        note(std::string("kill -9 kvtd on ") + sp.name);
        no_fatal_stop(sp);
        sp.kvtd.reset();
    }

    void stop(Sp &sp)
    {
        note(std::string("stop kvtd on ") + sp.name);
        no_fatal_stop(sp);
        if (exit_code(sp.kvtd->stop(SIGTERM)) != 0)
            fail(std::string("kvtd on ") + sp.name + " did not end cleanly");
        sp.kvtd.reset();
    }

    void no_fatal_stop(Sp &sp)
    {
        if (log_has("===== kvtd shutting down =====") || kvtsim::kvtd_pids().empty())
            fail(std::string("kvtd on ") + sp.name + " stopped:\n" +
                 read_file(kvtsim::path_in_root("/var/log/kvtd.log")));
    }

    // kvtcard on a live SP: refused; with --live it writes through the
    // card library, and kvtd reads the card again before its next write.
    void kvtcard_write(Sp &sp)
    {
        Part part = kvtsim::card_eeprom();
        CardState scratch;
        edit(part, scratch, false);
        const std::string file = sp.dir + "/kvtcard-write.bin";
        ASSERT_TRUE(std::ofstream(file, std::ios::binary)
                        .write(reinterpret_cast<const char *>(part.data()),
                               static_cast<std::streamsize>(part.size())));
        note(std::string("kvtcard write on ") + sp.name + ", then with --live");
        const ToolRun refused = kvtcard("write --force --sim " + file);
        if (refused.status != 2 || !has(refused, "runs on this SP"))
            fail("kvtcard wrote under kvtd: " + refused.out);
        const Part before = kvtsim::card_eeprom();
        const ToolRun live = kvtcard("write --force --live --sim " + file);
        if (live.status != 0)
            fail("kvtcard write --live failed: " + live.out);
        if (kvtsim::card_eeprom() != before)
            written(sp, image_of(before), image_of(part));
    }

    // On SP B, without a card-change line: the card leaves the slot until
    // the monitor finds it gone, is changed elsewhere, and comes back.
    void swap_during_the_minute(Sp &sp)
    {
        note("card of B pulled, changed on the bench and put back within the minute");
        const int failed = log_count("i2c_writeread failed");
        Part part = kvtsim::card_eeprom();
        ASSERT_EQ(kvtsim::card_pull(), 0);
        if (!wait_until([&] { return log_count("i2c_writeread failed") > failed; }))
            fail("the monitor never missed the card");
        edit(part, cards_[sp.card], false);
        ASSERT_EQ(kvtsim::card_insert_eeprom(part), 0);
    }

    std::mt19937 rng_;
    unsigned seed_;
    Totals &totals_;
    bool verbose_;
    bool failed_ = false;
    unsigned marks_ = 0;
    std::ostringstream log_;
    SimRoot root_a_{{.base_mac = {0x00, 0x14, 0x4f, 0x00, 0x0a, 0x00},
                     .sp_mac = {0x00, 0x14, 0x4f, 0x00, 0x0a, 0x01}}};
    SimRoot root_b_{{.base_mac = {0x00, 0x14, 0x4f, 0x00, 0x0b, 0x00},
                     .sp_mac = {0x00, 0x14, 0x4f, 0x00, 0x0b, 0x01}}};
    std::array<Sp, 2> sps_{Sp{"A", root_a_.dir(), {}, -1}, Sp{"B", root_b_.dir(), {}, -1}};
    std::array<CardState, 2> cards_{};
};

unsigned env_number(const char *name, unsigned fallback)
{
    const char *text = std::getenv(name);
    return text && *text ? static_cast<unsigned>(std::strtoul(text, nullptr, 10)) : fallback;
}

constexpr unsigned kStepsPerScenario = 30;
// Scenarios of the short run in the test command; the sanitizer builds,
// whose daemons start several times slower, play fewer.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr unsigned kShortRun = 10;
#else
constexpr unsigned kShortRun = 40;
#endif

TEST(InteropModel, CardsStayGoodAmongTwoSpsAnotherWriterCutsAndKills)
{
    const unsigned replay = env_number("KVT_MODEL_SEED", 0);
    const unsigned first = replay ? replay : env_number("KVT_MODEL_FIRST_SEED", 1);
    const unsigned count = replay ? 1 : env_number("KVT_MODEL_SCENARIOS", kShortRun);
    Totals totals;
    for (unsigned seed = first; seed < first + count; ++seed) {
        if (replay)
            std::printf("seed %u:\n", seed);
        Model model(seed, totals, replay != 0);
        if (!model.play(kStepsPerScenario))
            break;
    }
    std::printf("model: %u scenarios, %u steps, %u starts, %u restores, %u cuts, %u cuts leaving "
                "a section mixed, %u refusals after a cut, %u starts after another writer's change "
                "since the card library's last write, %u of them refused as a cut, %u of those "
                "within one card page, %u setting a page back\n",
                totals.scenarios, totals.steps, totals.starts, totals.restores, totals.cuts,
                totals.torn_cuts, totals.refused_after_cut, totals.starts_after_other_writer,
                totals.ambiguous, totals.ambiguous_one_page, totals.ambiguous_set_back);
    RecordProperty("scenarios", std::to_string(totals.scenarios));
    RecordProperty("ambiguous_refusals", std::to_string(totals.ambiguous));
}

} // namespace
} // namespace kvttest
