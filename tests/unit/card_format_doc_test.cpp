// docs/card-format.md against the record itself: every row of its byte-map
// tables must give the offset and width the compiler gives the field, and
// every field of the record must have its row, so the document cannot drift
// from card/image.hpp.
#include <gtest/gtest.h>

#include <cstddef>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "card/image.hpp"

namespace {

struct Extent {
    std::size_t offset;
    std::size_t width;
};

// clang-format off
#define IMAGE_FIELD(f) {#f, {offsetof(kvt::Image, f), sizeof(kvt::Image::f)}}
#define ENTRY_FIELD(table, type, f) {#table "[k]." #f, {offsetof(type, f), sizeof(type::f)}}
#define RULE_FIELD(f) {"alert_rules[i]." #f, {offsetof(kvt::AlertRule, f), sizeof(kvt::AlertRule::f)}}

const std::map<std::string, Extent> kRecordFields = {
    IMAGE_FIELD(hdr_version), IMAGE_FIELD(sp_mac), IMAGE_FIELD(cksum1),
    IMAGE_FIELD(user_table), IMAGE_FIELD(cksum2), IMAGE_FIELD(reserved_18a),
    IMAGE_FIELD(netflags), IMAGE_FIELD(ipaddress), IMAGE_FIELD(ipnetmask),
    IMAGE_FIELD(ipgateway), IMAGE_FIELD(cksum3), IMAGE_FIELD(diag_trigger),
    IMAGE_FIELD(diag_level), IMAGE_FIELD(diag_level_error), IMAGE_FIELD(diag_level_power),
    IMAGE_FIELD(diag_level_user), IMAGE_FIELD(diag_verbosity),
    IMAGE_FIELD(diag_verbosity_error), IMAGE_FIELD(diag_verbosity_power),
    IMAGE_FIELD(diag_verbosity_user), IMAGE_FIELD(diag_mode), IMAGE_FIELD(misc_reserved),
    IMAGE_FIELD(miscbits), IMAGE_FIELD(cliprompt), IMAGE_FIELD(cli_eventlevel),
    IMAGE_FIELD(cli_timeout), IMAGE_FIELD(cksum4), IMAGE_FIELD(alert_rules),
    IMAGE_FIELD(cksum5), IMAGE_FIELD(customerinfo), IMAGE_FIELD(cksum6),
    IMAGE_FIELD(escapechars), IMAGE_FIELD(mailhost_address), IMAGE_FIELD(mail_reserved),
    IMAGE_FIELD(mailhost_port), IMAGE_FIELD(keyswitch), IMAGE_FIELD(host_type),
    IMAGE_FIELD(cksum7), IMAGE_FIELD(climode_table), IMAGE_FIELD(cksum8),
    IMAGE_FIELD(reserved_6f6), IMAGE_FIELD(role_table), IMAGE_FIELD(cksum9),
    IMAGE_FIELD(reserved_725),
    ENTRY_FIELD(user_table, kvt::UserEntry, name),
    ENTRY_FIELD(user_table, kvt::UserEntry, password),
    ENTRY_FIELD(user_table, kvt::UserEntry, privilege),
    ENTRY_FIELD(climode_table, kvt::CliModeEntry, name),
    ENTRY_FIELD(climode_table, kvt::CliModeEntry, mode),
    RULE_FIELD(destination), RULE_FIELD(level), RULE_FIELD(type),
};
// clang-format on

struct Row {
    int line;
    std::string offset, width, field;
};

std::vector<std::string> cells(const std::string &line)
{
    std::vector<std::string> out;
    std::stringstream in(line);
    std::string cell;
    std::getline(in, cell, '|'); // text before the first bar
    while (std::getline(in, cell, '|')) {
        const auto first = cell.find_first_not_of(" `");
        const auto last = cell.find_last_not_of(" `");
        out.push_back(first == std::string::npos ? "" : cell.substr(first, last - first + 1));
    }
    return out;
}

// "0x1CC" in the image, "+17" in an entry.
bool is_offset(const std::string &text)
{
    return text.starts_with("0x") || (text.size() > 1 && text[0] == '+');
}

// The rows of every table headed "| Offset | Width | Field | Encoding |".
std::vector<Row> layout_rows()
{
    std::ifstream doc(KVT_SOURCE_DIR "/docs/card-format.md");
    EXPECT_TRUE(doc) << "cannot open docs/card-format.md";
    std::vector<Row> rows;
    bool in_table = false;
    int number = 0;
    for (std::string line; std::getline(doc, line);) {
        ++number;
        if (line == "| Offset | Width | Field | Encoding |") {
            in_table = true;
            continue;
        }
        if (line.empty() || line[0] != '|')
            in_table = false;
        const auto c = cells(line);
        if (in_table && c.size() >= 4 && is_offset(c[0]))
            rows.push_back({number, c[0], c[1], c[2]});
    }
    return rows;
}

std::size_t parse_offset(const std::string &text)
{
    if (text[0] == '+')
        return std::stoul(text.substr(1));
    return std::stoul(text, nullptr, 16);
}

TEST(CardFormatDoc, EveryRowMatchesTheRecordAndEveryFieldHasARow)
{
    std::map<std::string, int> seen;
    for (const Row &row : layout_rows()) {
        ++seen[row.field];
        const auto field = kRecordFields.find(row.field);
        if (field == kRecordFields.end()) {
            ADD_FAILURE() << "line " << row.line << ": no such field " << row.field;
            continue;
        }
        EXPECT_EQ(parse_offset(row.offset), field->second.offset)
            << "line " << row.line << ": offset of " << row.field;
        EXPECT_EQ(std::stoul(row.width), field->second.width)
            << "line " << row.line << ": width of " << row.field;
    }
    for (const auto &[name, extent] : kRecordFields)
        EXPECT_EQ(seen[name], 1) << name << " must have exactly one row";
}

} // namespace
