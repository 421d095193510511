// Audit intake: hand-made class-106 records, as another process would post
// them, against a card that shows which sections were rewritten.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "service/kvtd.hpp"
#include "sim/services/persisted_vars.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/sim_root.hpp"
#include "tests/unit/section_writes.hpp"

namespace {

using Bytes = std::vector<unsigned char>;

template <typename T> void put(Bytes &record, T value)
{
    unsigned char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    record.insert(record.end(), bytes, bytes + sizeof value);
}

void put_text(Bytes &record, const std::string &text)
{
    record.insert(record.end(), text.begin(), text.end());
    record.push_back('\0');
}

Bytes resized(Bytes record, std::size_t size)
{
    record.resize(size, 0);
    return record;
}

// netfn 6, user "root", dataLen 1 and one data byte: 25 bytes, the
// shortest record of its type.
Bytes ipmi(std::uint8_t command, std::uint8_t comp_code = 0)
{
    Bytes r{0x06, command};
    put_text(r, "root");
    r.resize(19, 0); // the name's 17 bytes
    put(r, comp_code);
    put<std::int32_t>(r, 1);
    r.push_back(0);
    return r;
}

// The fixed part with explicit offsets; texts are appended by the caller.
Bytes luapi_fixed(std::uint32_t command, std::int32_t status, std::uint32_t path_at,
                  std::uint32_t value_at)
{
    Bytes r;
    for (std::uint32_t field : {command, static_cast<std::uint32_t>(status), path_at, value_at})
        put(r, field);
    return resized(r, 24);
}

Bytes luapi(std::uint32_t command, std::int32_t status, const std::string &path,
            const std::string &value)
{
    Bytes r = luapi_fixed(command, status, 24, static_cast<std::uint32_t>(24 + path.size() + 1));
    put_text(r, path);
    put_text(r, value);
    return r;
}

// Exactly 24 bytes: both texts inside the unread tail of the fixed part.
Bytes luapi_in_24_bytes()
{
    Bytes r = luapi_fixed(3, 0, 16, 21);
    std::memcpy(&r[16], "/X/q\0v\0", 7);
    return r;
}

Bytes persist(std::uint8_t index, const std::string &value)
{
    Bytes r{index, 0, 0, 0, 0, 0};
    put_text(r, value);
    return r;
}

std::uint8_t nv_row(const char *name)
{
    return static_cast<std::uint8_t>(kvtsim::nv_row(name).value());
}

struct IntakeCase {
    const char *name;
    int type; // of class 106; 0: a class-107 event of type 1
    Bytes record;
    std::set<unsigned> sections;
    std::vector<std::string> lines;
    std::vector<std::string> absent = {};
};

std::vector<IntakeCase> cases()
{
    const std::uint8_t keyswitch = nv_row("keyswitch_state");
    const Bytes port = luapi(3, 0, "/X/clients/smtp/port", "25");
    // The value's NUL replaced by one more digit.
    Bytes unterminated(port.begin(), port.end() - 1);
    unterminated.push_back('5');
    // A user name filling its 17 bytes with no NUL, as a hostile sender may.
    Bytes full_name = ipmi(0x47);
    std::fill(full_name.begin() + 2, full_name.begin() + 19, 'a');
    const std::string short_record = "kvtd_handle_event: short record for type ";
    const std::string not_inside = " is not inside the record";
    // clang-format off
    return {
        {"IpmiUserCommandCountsWhateverItsCompletionCode", 1, ipmi(0x47, 0xC1), {2, 9},
         {"process IPMI payload: command=0x47\n", "====== IPMI cmd: CMD_SET_USER_PASSWORD =====\n",
          "    netfn: 6 username: <            root>\n", "    compCode: 193 dataLen: 1\n",
          "snapshot updated user info\n"}},
        {"IpmiUserNameWithoutNulIsCutToItsField", 1, full_name, {2, 9},
         {"    netfn: 6 username: <aaaaaaaaaaaaaaaa>\n"}},
        {"IpmiOf24BytesIsDropped", 1, resized(ipmi(0x45), 24), {},
         {short_record + "1 (24 bytes), dropped\n"}, {"process IPMI payload"}},
        {"LanCommandOnlyLogs", 1, ipmi(0x01), {},
         {"====== IPMI cmd: CMD_SET_LAN_CONFIGURATION_PARAMETERS =====\n",
          "snapshot updated LAN config\n"}},
        {"SolCommandOnlyLogs", 1, ipmi(0x21), {}, {"snapshot updated serial/SOL config\n"}},
        {"SerialModemConfigOnlyLogs", 1, ipmi(0x10), {},
         {"====== IPMI cmd: CMD_SET_SERIAL_MODEM_CONFIG =====\n", "snapshot updated serial/SOL config\n"}},
        {"SerialModemMuxOnlyLogs", 1, ipmi(0x12), {},
         {"====== IPMI cmd: CMD_SET_SERIAL_MODEM_MUX =====\n", "snapshot updated serial/SOL config\n"}},
        {"ChannelAccessCounts", 1, ipmi(0x40), {2, 9},
         {"====== IPMI cmd: CMD_SET_CH_ACCESS =====\n", "snapshot updated user info\n"}},
        {"UserAccessCounts", 1, ipmi(0x43), {2, 9},
         {"====== IPMI cmd: CMD_SET_USER_ACCESS =====\n", "snapshot updated user info\n"}},
        {"UserNameCounts", 1, ipmi(0x45), {2, 9},
         {"====== IPMI cmd: CMD_SET_USER_NAME =====\n", "snapshot updated user info\n"}},
        {"UnknownIpmiCommandIsDumpedUnnamed", 1, ipmi(0x48), {},
         {"====== IPMI cmd: ??? =====\n", "    compCode: 0 dataLen: 1\n"}, {"snapshot updated"}},
        {"LuapiSetIsRouted", 2, port, {7},
         {"===== Luapi cmd LU_SET_OBJ_VAL_CMD =====\n",
          "\tpath </X/clients/smtp/port> val <25> 0\n", "LU_SET_OBJ_VAL_CMD\n",
          "name </X/clients/smtp/port> val: <25> 0\n", "snapshot updated Luapi object\n",
          "kvtd_process_obj_update: name /X/clients/smtp/port val: 25\n"}},
        {"LuapiDeleteIsRoutedLikeASet", 2, luapi(9, 0, "/X/network/state", "enabled"), {4},
         {"LU_DELETE_OBJ_CMD\n"}},
        {"LuapiOf24BytesIsTheSmallestAccepted", 2, luapi_in_24_bytes(), {},
         {"kvtd_process_obj_update: name /X/q val: v\n"}},
        {"LuapiOf23BytesIsDropped", 2, resized(luapi_in_24_bytes(), 23), {},
         {short_record + "2 (23 bytes), dropped\n"}, {"process Luapi payload"}},
        {"LuapiFailedSetIsLoggedAndDropped", 2, luapi(3, -1, "/X/clients/smtp/port", "25"), {},
         {"\tpath </X/clients/smtp/port> val <25> -1\n"}, {"LU_SET_OBJ_VAL_CMD\n"}},
        {"LuapiUnnamedCommandHasNoPathLine", 2, luapi(20, 0, "/X/q", "v"), {},
         {"===== Luapi cmd ??? =====\n"}, {"\tpath <", "name <"}},
        {"LuapiFirstCommandName", 2, luapi(0, 0, "/X/q", "v"), {},
         {"===== Luapi cmd LU_GET_OBJ_CMD =====\n"}},
        {"LuapiLastCommandName", 2, luapi(23, 0, "/X/q", "v"), {},
         {"===== Luapi cmd LU_SESS_GET_MODE_CMD =====\n"}},
        {"LuapiReadCommandIsNotActedOn", 2, luapi(2, 0, "/X/clients/smtp/port", "25"), {},
         {"===== Luapi cmd LU_GET_OBJ_VAL_CMD =====\n"}, {"name <"}},
        {"LuapiPathOffsetPastTheEndIsDropped", 2, luapi_fixed(3, 0, 24, 4), {},
         {"path text at offset 24" + not_inside + " (24 bytes), dropped\n"},
         {"process Luapi payload"}},
        {"LuapiHugeValueOffsetIsDropped", 2, luapi_fixed(3, 0, 0, 0xFFFFFFF0u), {},
         {"value text at offset 4294967280" + not_inside}, {"process Luapi payload"}},
        {"LuapiTextWithoutNulIsDropped", 2, unterminated, {},
         {"value text at offset 45" + not_inside + " (48 bytes), dropped\n"},
         {"process Luapi payload"}},
        {"PersistKeyswitchIsWritten", 4, persist(keyswitch, "2"), {7},
         {"kvtd_process_persist_payload var=keyswitch_state\n", "\tvalue=2 (32)\n"}},
        {"PersistOtherVariableOnlyLogs", 4, persist(nv_row("hostname"), "sp1"), {},
         {"kvtd_process_persist_payload var=hostname\n", "\tvalue=sp1 (73)\n"}},
        {"PersistOf6BytesHasNoRoomForItsValue", 4, resized(persist(keyswitch, ""), 6), {},
         {"kvtd_process_persist_payload: value text not inside the record (6 bytes), dropped\n"},
         {"var="}},
        {"PersistOf5BytesIsDropped", 4, resized(persist(keyswitch, ""), 5), {},
         {short_record + "4 (5 bytes), dropped\n"}, {"kvtd_process_persist_payload"}},
        {"PersistIndex51IsDropped", 4, persist(51, "2"), {},
         {"kvtd_process_persist_payload: varIndex 51 names no variable, dropped\n"}, {"var="}},
        {"AuditType3IsIgnored", 3, ipmi(0x47), {},
         {"kvtd_handle_event: got event, class 106 type 3\n"}, {"process", "dropped\n"}},
        {"OtherClassIsIgnored", 0, ipmi(0x47), {},
         {"kvtd_handle_event: got event, class 107 type 1\n"}, {"process", "dropped\n"}},
    };
    // clang-format on
}

using kvttest::PrintTo;

class Intake : public testing::TestWithParam<IntakeCase> {};

TEST_P(Intake, ActsOnlyOnWellFormedRecords)
{
    const kvttest::SimRoot root;
    kvttest::SectionWrites card;
    ASSERT_NO_FATAL_FAILURE(card.arm());
    const IntakeCase &c = GetParam();
    // The record lives in a buffer of exactly its length, so that a read
    // past its end shows under a memory checker.
    const auto record = std::make_unique<unsigned char[]>(c.record.size());
    std::memcpy(record.get(), c.record.data(), c.record.size());
    kvtd_handle_event(c.type == 0 ? 107 : 106, c.type == 0 ? 1 : c.type, record.get(),
                      static_cast<std::uint32_t>(c.record.size()));

    EXPECT_EQ(card.written(), c.sections);
    for (const std::string &line : c.lines)
        EXPECT_TRUE(kvttest::log_has(line)) << line << "\n--- log:\n" << root.service_log();
    for (const std::string &line : c.absent)
        EXPECT_FALSE(kvttest::log_has(line)) << line << "\n--- log:\n" << root.service_log();
}

INSTANTIATE_TEST_SUITE_P(Records, Intake, testing::ValuesIn(cases()), kvttest::by_name);

} // namespace
