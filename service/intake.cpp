// Audit event intake: the records that other services post on class 106
// when they change the SP's configuration. The records come from other
// processes, so every field is read through a bounded reader and every
// offset or index taken from a record is checked before it is followed.
#include <cstdint>
#include <cstring>
#include <span>

#include "base/log.hpp"
#include "platform/card_lib.h"
#include "sections/users.hpp"
#include "sections/writers.hpp"
#include "service/kvtd.hpp"
#include "service/record_reader.hpp"

namespace {

constexpr int kClassMgmtAudit = 106;

enum AuditType {
    AUDIT_TYPE_IPMI = 1,
    AUDIT_TYPE_LUAPI = 2,
    AUDIT_TYPE_PERSIST_BACKUP = 4,
};

// Fixed parts of the three records: the smallest record each type may have.
constexpr std::uint32_t kIpmiRecordMin = 25;
constexpr std::uint32_t kLuapiRecordMin = 24;
constexpr std::uint32_t kPersistRecordMin = 6;

constexpr std::uint32_t kLuSetObjVal = 3;
constexpr std::uint32_t kLuDeleteObj = 9;

struct IpmiAudit {
    std::uint8_t netfn = 0;
    std::uint8_t command = 0;
    char username[17] = {};
    std::uint8_t compCode = 0;
    std::int32_t dataLen = 0;
};

struct LuapiAudit {
    std::uint32_t command = 0;
    std::int32_t status = 0;
    std::uint32_t pathOffset = 0;
    std::uint32_t valOffset = 0;
};

IpmiAudit decode_ipmi(kvt::RecordReader &reader)
{
    IpmiAudit record;
    record.netfn = reader.u8();
    record.command = reader.u8();
    reader.bytes(record.username, sizeof record.username);
    // The sender promises a NUL within the field; the dump must not rely on it.
    record.username[sizeof record.username - 1] = '\0';
    record.compCode = reader.u8();
    record.dataLen = reader.i32();
    reader.skip(1); // at least one byte of request data, never read
    return record;
}

LuapiAudit decode_luapi(kvt::RecordReader &reader)
{
    LuapiAudit record;
    record.command = reader.u32();
    record.status = reader.i32();
    record.pathOffset = reader.u32();
    record.valOffset = reader.u32();
    reader.skip(8);
    return record;
}

// What the daemon does after an IPMI command that changed the SP's
// configuration: only a user change is copied to the card.
enum class IpmiUpdate { lan, serial_sol, users };

struct IpmiCommand {
    std::uint8_t number;
    const char *name;
    IpmiUpdate update;
};

constexpr IpmiCommand kIpmiCommands[] = {
    {0x01, "CMD_SET_LAN_CONFIGURATION_PARAMETERS", IpmiUpdate::lan},
    {0x10, "CMD_SET_SERIAL_MODEM_CONFIG", IpmiUpdate::serial_sol},
    {0x12, "CMD_SET_SERIAL_MODEM_MUX", IpmiUpdate::serial_sol},
    {0x21, "CMD_SET_SOL_CONFIGURATION", IpmiUpdate::serial_sol},
    {0x40, "CMD_SET_CH_ACCESS", IpmiUpdate::users},
    {0x43, "CMD_SET_USER_ACCESS", IpmiUpdate::users},
    {0x45, "CMD_SET_USER_NAME", IpmiUpdate::users},
    {0x47, "CMD_SET_USER_PASSWORD", IpmiUpdate::users},
};

// The entry for `number`, or null for a command the daemon does not follow.
const IpmiCommand *find_ipmi_command(std::uint8_t number)
{
    for (const IpmiCommand &command : kIpmiCommands)
        if (command.number == number)
            return &command;
    return nullptr;
}

void apply_ipmi_update(IpmiUpdate update)
{
    switch (update) {
    case IpmiUpdate::lan:
        log_progress("snapshot updated LAN config\n");
        return;
    case IpmiUpdate::serial_sol:
        log_progress("snapshot updated serial/SOL config\n");
        return;
    case IpmiUpdate::users:
        log_progress("snapshot updated user info\n");
        kvtd_snapshot();
        return;
    }
}

struct LuapiCommandName {
    std::uint32_t number;
    const char *name;
};

// Number 20 has no name; the names are log text only.
constexpr LuapiCommandName kLuapiCommandNames[] = {
    {0, "LU_GET_OBJ_CMD"},
    {1, "LU_GET_NEXT_OBJ_CMD"},
    {2, "LU_GET_OBJ_VAL_CMD"},
    {3, "LU_SET_OBJ_VAL_CMD"},
    {4, "LU_TEST_GET_OBJ_VAL_CMD"},
    {5, "LU_TEST_SET_OBJ_VAL_CMD"},
    {6, "LU_GET_OBJ_NAME_CMD"},
    {7, "LU_GET_OBJ_DESC_CMD"},
    {8, "LU_CREATE_OBJ_CMD"},
    {9, "LU_DELETE_OBJ_CMD"},
    {10, " LU_TEST_CREATE_OBJ_CMD"},
    {11, "LU_TEST_DELETE_OBJ_CMD"},
    {12, "LU_GET_OBJ_FLAGS_CMD"},
    {13, "LU_SESS_CREATE_CMD"},
    {14, "LU_SESS_DESTROY_CMD"},
    {15, "LU_SESS_GET_USERNAME_CMD"},
    {16, "LU_SESS_GET_PASSWORD_CMD"},
    {17, "LU_SESS_GET_LGN_TYPE_CMD"},
    {18, "LU_SESS_GET_ROLE_CMD"},
    {19, "LU_IPMI_GET_USERNAME_CMD"},
    {21, "LU_GET_OBJ_POSS_VALUES_CMD"},
    {22, "LU_GET_NEXT_QUERY_OBJ_CMD"},
    {23, "LU_SESS_GET_MODE_CMD"},
};

const char *luapi_command_name(std::uint32_t command)
{
    for (const LuapiCommandName &entry : kLuapiCommandNames)
        if (entry.number == command)
            return entry.name;
    return "???";
}

void dump_ipmi_cmd(const IpmiAudit &record, const IpmiCommand *command)
{
    log_progress("====== IPMI cmd: %s =====\n", command != nullptr ? command->name : "???");
    log_progress("    netfn: %d username: <%16s>\n", record.netfn, record.username);
    log_progress("    compCode: %d dataLen: %d\n", record.compCode, record.dataLen);
}

void dump_luapi_cmd(const LuapiAudit &record, const char *path, const char *value)
{
    const char *name = luapi_command_name(record.command);
    log_progress("===== Luapi cmd %s =====\n", name);
    if (std::strcmp(name, "???") != 0)
        log_progress("\tpath <%s> val <%s> %d\n", path, value, record.status);
}

// The text at `offset`, or null (with the line that drops the record) when
// it does not lie wholly inside the record.
const char *luapi_text(const kvt::RecordReader &reader, const char *what, std::uint32_t offset)
{
    const char *text = reader.text_at(offset);
    if (text == nullptr)
        log_error("kvtd_process_luapi_payload: %s text at offset %u is not inside the record (%u "
                  "bytes), dropped\n",
                  what, offset, reader.length());
    return text;
}

// The sender promises at least the fixed part ("length >= sizeof
// (AuditEventIPMI_T)", "... AuditEventLuapi_T", "... AuditEventPersistBackup_T").
// A record that breaks the promise is dropped unread with a line: one bad
// sender must not stop the daemon that keeps the card.
bool length_at_least(int type, std::uint32_t length, std::uint32_t minimum)
{
    if (length >= minimum)
        return true;
    log_error("kvtd_handle_event: short record for type %d (%u bytes), dropped\n", type, length);
    return false;
}

} // namespace

void kvtd_handle_event(int event_class, int event_type, const void *data, std::uint32_t length)
{
    log_progress("kvtd_handle_event: got event, class %ld type %ld\n",
                 static_cast<long>(event_class), static_cast<long>(event_type));
    if (event_class != kClassMgmtAudit)
        return;
    const auto *record = static_cast<const unsigned char *>(data);
    switch (event_type) {
    case AUDIT_TYPE_IPMI:
        if (length_at_least(event_type, length, kIpmiRecordMin))
            kvtd_process_ipmi_payload(record, length);
        return;
    case AUDIT_TYPE_LUAPI:
        if (length_at_least(event_type, length, kLuapiRecordMin))
            kvtd_process_luapi_payload(record, length);
        return;
    case AUDIT_TYPE_PERSIST_BACKUP:
        if (length_at_least(event_type, length, kPersistRecordMin))
            kvtd_process_persist_payload(record, length);
        return;
    default:
        return;
    }
}

void kvtd_process_ipmi_payload(const unsigned char *data, std::uint32_t length)
{
    kvt::RecordReader reader(data, length);
    const IpmiAudit record = decode_ipmi(reader);
    if (!reader.ok())
        return;
    log_progress("process IPMI payload: command=0x%x\n", record.command);
    const IpmiCommand *command = find_ipmi_command(record.command);
    dump_ipmi_cmd(record, command);
    // Only the command byte counts: a command is acted on whatever its
    // network function and completion code.
    if (command != nullptr)
        apply_ipmi_update(command->update);
}

void kvtd_process_luapi_payload(const unsigned char *data, std::uint32_t length)
{
    kvt::RecordReader reader(data, length);
    const LuapiAudit record = decode_luapi(reader);
    if (!reader.ok())
        return;
    const char *path = luapi_text(reader, "path", record.pathOffset);
    const char *value = luapi_text(reader, "value", record.valOffset);
    if (path == nullptr || value == nullptr)
        return;
    log_progress("process Luapi payload: command=0x%x\n", record.command);
    dump_luapi_cmd(record, path, value);
    if (record.status != 0)
        return;
    if (record.command == kLuSetObjVal)
        log_progress("LU_SET_OBJ_VAL_CMD\n");
    else if (record.command == kLuDeleteObj)
        log_progress("LU_DELETE_OBJ_CMD\n");
    else
        return;
    log_progress("name <%s> val: <%s> %d\n", path, value, record.status);
    log_progress("snapshot updated Luapi object\n");
    // A delete is routed like a set, with whatever value the record carries.
    kvtd_process_obj_update(path, value);
}

void kvtd_process_persist_payload(const unsigned char *data, std::uint32_t length)
{
    kvt::RecordReader reader(data, length);
    const std::uint8_t index = reader.u8();
    reader.skip(5);
    if (!reader.ok())
        return;
    const std::span<const nv_file_entry> table(nv_file_table);
    if (index >= table.size() || table[index].name == nullptr) {
        log_error("kvtd_process_persist_payload: varIndex %u names no variable, dropped\n", index);
        return;
    }
    const char *value = reader.text_at(kPersistRecordMin);
    if (value == nullptr) {
        log_error(
            "kvtd_process_persist_payload: value text not inside the record (%u bytes), dropped\n",
            length);
        return;
    }
    const char *name = table[index].name;
    log_progress("kvtd_process_persist_payload var=%s\n", name);
    log_progress("\tvalue=%s (%x)\n", value,
                 static_cast<unsigned>(static_cast<unsigned char>(value[0])));
    if (std::strcmp(name, "keyswitch_state") == 0)
        kvtd_write_keyswitch(value);
}
