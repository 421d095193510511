// The card inspector run as engineers run it: the built kvtcard on card
// files made by hand and on the simulated SP.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include <unistd.h>

#include "card/sections.hpp"
#include "cardlib/checksum.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/sim_root.hpp"
#include "tests/support/tool_run.hpp"

namespace {

using kvttest::has;
using kvttest::kvtcard;
using kvttest::ToolRun;

const kvtsim::Mac kCardMac{0x00, 0x14, 0x4f, 0x12, 0x34, 0x56};

// A card with one value of each kind, every field known.
kvt::Image known_image(const kvtsim::Mac &mac = kCardMac)
{
    kvt::Image image{};
    image.hdr_version = 0x0B;
    std::copy(mac.begin(), mac.end(), image.sp_mac);
    image.user_table[0].name.store("root");
    image.user_table[0].password.store("changeme");
    image.user_table[0].privilege = 4;
    image.role_table[0].set(0x80000021);
    image.user_table[1].name.store("alice");
    image.user_table[1].password.store("s3cret");
    image.user_table[1].privilege = 3;
    image.role_table[1].set(0x20);
    image.netflags.set(kvt::KVT_NET_STATIC);
    image.ipaddress.bytes[0] = 192, image.ipaddress.bytes[1] = 168, image.ipaddress.bytes[3] = 10;
    image.diag_trigger = 0x03;
    image.diag_mode = 15; // ops5
    image.diag_level_error = 2;
    image.miscbits.set(kvt::KVT_NETWORK_ENABLED | kvt::KVT_AUTORESTART_DUMPCORE);
    image.cliprompt.store("rack7-sp>");
    image.cli_timeout.set(4294967295u);
    image.alert_rules[0].destination.store("ops@example.com");
    image.alert_rules[0].level = 4;
    image.alert_rules[0].type = 1;
    image.customerinfo.store("lab \"7\"\x01");
    image.escapechars.store("~.");
    image.mailhost_address.store("10.0.0.25");
    image.mailhost_port.set(2525);
    image.climode_table[0].name.store("alice");
    image.climode_table[0].mode.store("admin");
    kvt::update_all_checksums(image);
    return image;
}

// The known card with the mail port changed and, with `checksums`, made valid again.
kvt::Image port_25_image(bool checksums = true)
{
    kvt::Image image = known_image();
    image.mailhost_port.set(25);
    if (checksums)
        kvt::update_all_checksums(image);
    return image;
}

std::string write_card(const kvttest::SimRoot &root, const std::string &name,
                       const kvt::Image &image, std::size_t offset = 0, std::size_t size = 1832)
{
    std::string bytes(size, '\xff');
    const auto src = kvt::image_bytes(image);
    for (std::size_t i = 0; i < src.size() && offset + i < size; ++i)
        bytes[offset + i] = static_cast<char>(src[i]);
    std::string path = root.dir() + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

// The run exits with `status`, prints each of `texts` and none of `absent`.
void expect_run(const ToolRun &run, int status, std::initializer_list<std::string> texts,
                std::initializer_list<std::string> absent = {})
{
    EXPECT_EQ(run.status, status) << run.out;
    for (const std::string &text : texts)
        EXPECT_TRUE(has(run, text)) << "missing: " << text << "\nin:\n" << run.out;
    for (const std::string &text : absent)
        EXPECT_FALSE(has(run, text)) << "present: " << text << "\nin:\n" << run.out;
}

// The same card as an image file, inside a whole EEPROM dump, and in a slot
// read through the at24 backend.
TEST(KvtcardShow, PrintsEachSectionWithTheDaemonsValueTextsFromAnImageOrADump)
{
    kvttest::SimRoot root;
    const std::string image = write_card(root, "card.img", known_image());
    const std::string dump = write_card(root, "dump.bin", known_image(), 0x1800, 8192);
    for (const std::string &card : {image, dump, "--device " + dump}) {
        const ToolRun run = kvtcard("show " + card);
        expect_run(run, 0,
                   {"  mac: 00:14:4f:12:34:56\n",
                    "  - slot: 0, name: root, password: ********, privilege: 4,\n",
                    "    privilege_name: administrator, role_mask: 0x80000021, restored: yes\n",
                    "  discovery: static\n", "  ip_address: 192.168.0.10\n",
                    "  trigger_text: \"user-reset error-reset \"\n", "  mode_name: ops5\n",
                    "    - object: /X/network/state, bit: 0x0100, value: enabled\n",
                    "    - object: /HOST/autorestart, bit: 0x0600, value: dumpcore\n",
                    "  timeout: 4294967295\n",
                    "  - rule: 1, destination: ops@example.com, level: 4, level_name: major, type: "
                    "1,\n    type_name: email\n",
                    "customer_info: \"lab \\\"7\\\"\\x01\" [section 6: checksum ok]\n",
                    "  mail_port: 2525\n", "  - slot: 0, name: alice, mode: admin\n",
                    "  - section: 4, name: misc, stored: 0x",
                    "folded:\n  user_slots: 9\n  alert_rules: 14\n  cli_mode_slots: 10\n"},
                   // Codes only: the level names belong to the platform.
                   {"changeme", "rule: 15", "level_error_name"});
        EXPECT_EQ(has(run, "format: eeprom\n"), card == dump);
    }
    EXPECT_TRUE(has(kvtcard("--show-passwords show " + image), "password: changeme,"));
    expect_run(kvtcard("show --all " + image), 0,
               {"rule: 15", "- slot: 10, name: \"\", password: \"\""}, {"folded:"});
}

struct VerifyCase {
    const char *name;
    std::size_t offset; // byte changed after the checksums were made
    unsigned char value;
    int status;
    const char *reason;
};

using kvttest::PrintTo;

// The sections' extents are the shared section map's, proven by the card
// image tests; a few sections stand for all here.
const VerifyCase kVerifyCases[] = {
    {"intact", 0, 0x0B, 0, "valid: yes"},
    {"invalidated", 0x000, 0xFF, 1, "verdict: card invalidated by a fatal stop"},
    {"old_version", 0x000, 0x0A, 1,
     "  - header version 0x0a is not 0x0b\n  - section 1 (header) checksum 0x"},
    {"header_mac", 0x003, 0x77, 1, "section 1 (header) checksum 0x"},
    {"misc_byte", 0x1D0, 'X', 1, "section 4 (misc) checksum 0x"},
    {"mail_host", 0x550, 'X', 1, "section 7 (console) checksum 0x"},
    {"role_checksum", 0x724, 0x00, 1, "section 9 (roles) checksum 0x00 should be 0x"},
    {"reserved_byte", 0x6F6, 0x77, 0, "valid: yes"},
};

class KvtcardVerify : public testing::TestWithParam<VerifyCase> {};

TEST_P(KvtcardVerify, ExitsZeroOnlyForACardTheDaemonAccepts)
{
    const VerifyCase &c = GetParam();
    kvttest::SimRoot root;
    kvt::Image image = known_image();
    kvt::image_bytes(image)[c.offset] = c.value;
    expect_run(kvtcard("verify " + write_card(root, "card.img", image)), c.status, {c.reason});
}

INSTANTIATE_TEST_SUITE_P(Cards, KvtcardVerify, testing::ValuesIn(kVerifyCases), kvttest::by_name);

TEST(KvtcardDiff, NamesTheChangedFieldWithBothValuesAsTextOrJson)
{
    kvttest::SimRoot root;
    kvt::Image other = port_25_image(false);
    other.user_table[1].password.store("n3w");
    kvt::update_all_checksums(other);
    const std::string a = write_card(root, "a.img", known_image());
    const std::string b = write_card(root, "b.img", other);

    EXPECT_EQ(kvtcard("diff " + a + " " + a).status, 0);
    expect_run(kvtcard("diff " + a + " " + b), 1,
               {"field: console.mail_port, a: 2525, b: 25",
                "field: users[1].password, a: ********, b: ********,", "note: passwords differ"},
               {"s3cret", "field: users[0]"});
    expect_run(kvtcard("--json diff " + a + " " + b), 1,
               {"\"field\": \"console.mail_port\",\n      \"a\": 2525,\n      \"b\": 25\n"});
}

struct DecisionCase {
    const char *name;
    bool own_mac;
    bool corrupt;
    const char *daemon_state;
    bool moved;
    const char *action;
    const char *reason;
};

const DecisionCase kDecisionCases[] = {
    {"same_sp", true, false, "running", false, "action: nothing to do",
     "reason: card valid, MAC matches, not moved"},
    {"other_sp", false, false, "running", false, "action: restore",
     "reason: card valid, card MAC differs from SP MAC"},
    {"moved", true, false, "running", true, "action: restore", "reason: card valid, card moved"},
    {"corrupt", false, true, "running", false, "action: capture",
     "reason: card invalid: checksum wrong in section 4"},
    {"after_fatal_stop", true, false, "shutdown", false, "action: capture",
     "reason: card valid, shutdown recorded"},
};

class KvtcardPreview : public testing::TestWithParam<DecisionCase> {};

TEST_P(KvtcardPreview, SaysWhatStartUpWouldDoWithTheCard)
{
    const DecisionCase &c = GetParam();
    kvttest::SimRoot root;
    kvt::Image image = known_image(c.own_mac ? kvtsim::sp_mac() : kCardMac);
    if (c.corrupt)
        image.diag_mode ^= 1;
    kvtsim::set_daemon_state(c.daemon_state);
    kvtsim::set_moved(c.moved);
    ASSERT_EQ(kvtsim::card_insert_image(kvt::image_bytes(image)), 0);
    expect_run(kvtcard("preview --sim"), 0, {c.action, c.reason});
}

INSTANTIATE_TEST_SUITE_P(States, KvtcardPreview, testing::ValuesIn(kDecisionCases),
                         kvttest::by_name);

// The restore's own plan beside the SP's values; the trigger's words count
// as a set, in any order.
TEST(KvtcardPreview, ListsTheRestoresPlanBesideTheSpsValues)
{
    kvttest::SimRoot root;
    ASSERT_EQ(kvtsim::object_set("/X/clients/smtp/port", "25"), 0);
    // The card's trigger names in another order: the same set.
    ASSERT_EQ(kvtsim::object_set("/HOST/diag/trigger", "error-reset user-reset"), 0);
    expect_run(kvtcard("preview " + write_card(root, "card.img", known_image())), 0,
               {"object: /X/clients/smtp/port, current: 25, card: 2525, changes: yes",
                "object: /HOST/diag/mode, current: ", "card: ops5",
                "object: /HOST/diag/trigger, current: error-reset user-reset,\n"
                "    card: \"user-reset error-reset \", changes: no\n",
                "    - action: delete, target: admin, reason: the card's users replace it\n",
                "    - action: add, target: alice, value: roles 0x00000020\n",
                "  card:\n    - alice:admin\n"});
}

TEST(KvtcardJson, WritesTheDocumentedShapeWithEscapedTexts)
{
    kvttest::SimRoot root;
    kvt::Image image = known_image();
    image.hdr_version = 0xFF;
    const std::string card = write_card(root, "card.img", image);

    const ToolRun show = kvtcard("--json show " + card);
    expect_run(show, 0,
               {"\"header\": {", "\"version\": 255", "\"users\": [", "\"role_mask\": 2147483681",
                "\"network\": {", "\"post\": {", "\"flags\": {", "\"settings\": [",
                "\"alert_rules\": [", "\"customer_info\": \"lab \\\"7\\\"\\u0001\"",
                "\"console\": {", "\"cli_modes\": [", "\"checksums\": [", "\"ok\": false"});
    EXPECT_EQ(show.out.front(), '{');
    expect_run(kvtcard("verify --json " + card), 1,
               {"\"valid\": false,\n  \"verdict\": \"card invalidated by a fatal stop\""});
    expect_run(kvtcard("--json preview " + card), 0,
               {"\"startup\": {\n    \"action\": \"capture\"", "\"objects\": ["});
}

// The bench commands on a card in a slot: the at24 backend over a part
// file, the same code that reads /sys/bus/i2c/devices/N-0053/eeprom.
TEST(KvtcardSlot, DetectsSavesHexdumpsWritesOnlyWithForceOnlyTheDifferingPagesAndPutsADumpBack)
{
    kvttest::SimRoot root;
    const std::string part = write_card(root, "part.bin", known_image(), 0x1800, 8192);
    const std::string device = "--device " + part;
    const std::string before = kvttest::read_file(part);
    expect_run(kvtcard("detect " + device), 0, {part + ": a card answers\n"});
    expect_run(kvtcard("detect --device " + root.dir() + "/empty-slot"), 2,
               {"empty-slot: no such file (the at24 driver makes it only for a card it found)\n"});
    ASSERT_EQ(kvtcard("save " + device + " " + root.dir() + "/saved.bin").status, 0);
    EXPECT_EQ(kvttest::read_file(root.dir() + "/saved.bin"), before);

    // Section 7's checksum wrong.
    expect_run(kvtcard("hexdump " + write_card(root, "bad.img", port_25_image(false))), 0,
               {"section 6, customer info: 0x1d19-0x1d42, checksum ok\n",
                "section 7, console: 0x1d43-0x1d7e, checksum WRONG: 0x",
                "reserved: 0x198a-0x198b\n",
                "  1d40:          7e 2e 00 31 30 2e 30 2e 30 2e 32 35 00  |   ~..10.0.0.25.|\n",
                " 00 19 00 00!f6     |............... |\n"});

    const std::string file = write_card(root, "new.img", port_25_image());
    expect_run(kvtcard("write " + device + " " + file), 1,
               {"1 page(s) differ 0x1d60\nnot written: give --force"});
    EXPECT_EQ(kvttest::read_file(part), before);
    expect_run(kvtcard("write --force " + device + " " + file), 0, {"read back the same"});
    // The part's pages (32 bytes each) that differ: the port's page and the
    // card library's first record slot.
    const std::string after = kvttest::read_file(part);
    std::vector<std::size_t> pages;
    for (std::size_t at = 0; at < after.size(); at += 32)
        if (before.compare(at, 32, after, at, 32) != 0)
            pages.push_back(at);
    EXPECT_EQ(pages, (std::vector<std::size_t>{0x1d60, 0x1f40}));
    EXPECT_EQ(kvtcard("verify " + device).status, 0);
    EXPECT_EQ(kvtcard("diff " + device + " " + file).status, 0);
    EXPECT_TRUE(has(kvtcard("write --force " + device + " " + file), "the card already holds it"));

    // The saved dump puts the card back whole, the record slot included;
    // only a dump of the part's size is taken, and only with --force.
    const std::string saved = root.dir() + "/saved.bin";
    expect_run(kvtcard("write --whole " + device + " " + saved), 1,
               {"2 page(s) differ 0x1d60 0x1f40\nnot written"});
    expect_run(kvtcard("write --whole --force " + device + " " + file), 2,
               {"new.img is 1832 bytes; --whole takes a dump of the whole part, 8192 bytes"});
    expect_run(kvtcard("write --whole --force " + device + " " + saved), 0,
               {"written, and read back the same"});
    EXPECT_EQ(kvttest::read_file(part), before);
}

// While a kvtd runs on the SP, its card is kvtd's copy of the SP's
// configuration: a write is refused with the way out, and --live writes all
// the same, through the card library's record.
TEST(KvtcardSlot, RefusesToWriteUnderARunningKvtdUnlessLive)
{
    kvttest::SimRoot root;
    ASSERT_EQ(kvtsim::card_insert_image(kvt::image_bytes(known_image())), 0);
    std::filesystem::create_directories(kvtsim::path_in_root("/run/kvtd"));
    std::ofstream(kvtsim::path_in_root("/run/kvtd/status")) << "pid: " << ::getpid() << "\n";
    const std::string file = write_card(root, "new.img", port_25_image());
    expect_run(kvtcard("write --force --sim " + file), 2,
               {") runs on this SP and keeps the card in step", "Stop kvtd first",
                "give --live to write all the same"});
    EXPECT_EQ(kvtcard("diff --sim " + file).status, 1) << "not written";
    expect_run(kvtcard("write --force --live --sim " + file), 0, {"read back the same"});
    expect_run(kvtcard("write --live --sim " + file), 0, {"the card already holds it"});
    expect_run(kvtcard("show --live " + file), 2, {"show takes no --live"});
}

// A fleet whose cards sum their sections from another start value is read
// with the value it uses.
TEST(KvtcardVerify, ReadsCardsOfAnotherChecksumStart)
{
    kvttest::SimRoot root;
    kvt::Image image = known_image();
    for (const kvt::SectionSpan &s : kvt::kSectionMap)
        kvt::image_bytes(image)[s.cksum] ^= cardlib::checksum_start(); // summed from 0
    const std::string card = write_card(root, "plain-xor.img", image);
    expect_run(kvtcard("verify " + card), 1,
               {"verdict: card invalid: checksum wrong in sections 1, 2, 3, 4, 5, 6, 7, 8, 9"});
    expect_run(kvtcard("verify --checksum-start 0 " + card), 0, {"valid: yes"});
    expect_run(kvtcard("verify --checksum-start 0x100 " + card), 2,
               {"--checksum-start 0x100: not a byte value"});
}

// A 24C256 dump that keeps its image at 0x100: any part, any offset.
TEST(KvtcardShow, ReadsAnyPartSizeAndImageOffset)
{
    kvttest::SimRoot root;
    const std::string dump = write_card(root, "big.bin", known_image(), 0x100, 32768);
    EXPECT_EQ(kvtcard("verify " + dump).status, 1) << "the image is not at 0x1800";
    expect_run(kvtcard("verify --part 24c256 --offset 0x100 " + dump), 0, {"valid: yes"});
    EXPECT_EQ(kvtcard("verify --part 24c64 " + dump).status, 2);
}

TEST(KvtcardErrors, RefusesBadFilesAndOptionsWithExitTwo)
{
    kvttest::SimRoot root;
    expect_run(kvtcard("show " + write_card(root, "short.img", known_image(), 0, 1831)), 2,
               {"1831 bytes, expected 1832 (card image) or 8192 (EEPROM dump)"});
    expect_run(kvtcard("verify " + root.dir() + "/absent.img"), 2,
               {"absent.img: cannot open: No such file or directory"});
    EXPECT_EQ(kvtcard("show").status, 2);
    expect_run(kvtcard("show --force card.img"), 2, {"kvtcard: show takes no --force\n"});
    expect_run(kvtcard("write --help"), 0, {"usage: kvtcard [--json] write "});
    const std::string file = write_card(root, "card.img", known_image());
    expect_run(kvtcard("save --device /dev/i2c-99 out.bin"), 2, {"/dev/i2c-99: no such file\n"});
    expect_run(kvtcard("detect --device i2c:" + file), 2,
               {"card.img: not a character device (an i2c-dev bus is /dev/i2c-N)\n"});
    const ToolRun status = kvtcard("status " + root.dir() + "/no-status");
    EXPECT_EQ(status.status, 2);
    EXPECT_TRUE(status.out.ends_with("no-status: No such file or directory\n")) << status.out;
}

} // namespace
