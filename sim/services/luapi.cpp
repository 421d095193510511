// The configuration-object service of the simulated SP: connections and
// sessions of this process, object reads and writes on the shared store.
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "platform/luapi.h"
#include "sim/control.hpp"
#include "sim/root/journal.hpp"
#include "sim/services/objects.hpp"
#include "sim/users/user_db.hpp"

extern "C" {
int luapi_errno = 0;
}

namespace {

using kvtsim::fault_fires;

std::mutex table_mutex;
std::set<int> open_handles;
std::map<int, int> open_sessions; // session -> its connection
int next_handle = 3;
int next_session = 1;

// The service knows one kind of connection (1, to the local object store),
// no session flags and one session mode (8, reads and writes); it refuses
// any other value.
constexpr int kLocalConnection = 1;
constexpr int kNoSessionFlags = 0;
constexpr int kReadWriteSession = 8;

// Fails the call with `error`; the service's failure result is -1.
int fail(int error)
{
    luapi_errno = error;
    return -1;
}

// When the named fault fires the call fails with the fault's value.
bool fault_fails(const std::string &name)
{
    long value = 0;
    if (!fault_fires(name, &value))
        return false;
    luapi_errno = static_cast<int>(value);
    return true;
}

bool session_valid(int handle, int session)
{
    const std::lock_guard lock(table_mutex);
    const auto found = open_sessions.find(session);
    return found != open_sessions.end() && found->second == handle;
}

// The checks every object operation makes first: 0 to go on, else -1 with
// luapi_errno set.
int object_call_refused(int handle, int session, const char *path, const char *fault)
{
    if (!path)
        return fail(kvtsim::kLuapiNoObject);
    if (fault_fails(std::string(fault) + ':' + path))
        return -1;
    if (!session_valid(handle, session))
        return fail(kvtsim::kLuapiBadHandle);
    return 0;
}

} // namespace

extern "C" {

int luapife_open(int mode)
{
    if (fault_fails("luapi.open"))
        return -1;
    if (mode != kLocalConnection)
        return fail(kvtsim::kLuapiBadValue);
    const std::lock_guard lock(table_mutex);
    const int handle = next_handle++;
    open_handles.insert(handle);
    return handle;
}

int luapife_session_create(int handle, const char *user, int flags, int mode, int *session)
{
    if (fault_fails("luapi.session_create"))
        return -1;
    if (!session || !user || flags != kNoSessionFlags || mode != kReadWriteSession)
        return fail(kvtsim::kLuapiBadValue);
    if (!kvtsim::userdb::find(user))
        return fail(kvtsim::kLuapiNoAccess);
    const std::lock_guard lock(table_mutex);
    if (!open_handles.contains(handle))
        return fail(kvtsim::kLuapiBadHandle);
    *session = next_session++;
    open_sessions[*session] = handle;
    return 0;
}

int luapife_session_destroy(int handle, int session)
{
    if (fault_fails("luapi.session_destroy"))
        return -1;
    const std::lock_guard lock(table_mutex);
    const auto found = open_sessions.find(session);
    if (found == open_sessions.end() || found->second != handle)
        return fail(kvtsim::kLuapiBadHandle);
    open_sessions.erase(found);
    return 0;
}

// Closing a connection ends the sessions still open on it.
int luapife_close(int handle)
{
    if (fault_fails("luapi.close"))
        return -1;
    const std::lock_guard lock(table_mutex);
    if (open_handles.erase(handle) == 0)
        return fail(kvtsim::kLuapiBadHandle);
    std::erase_if(open_sessions, [handle](const auto &entry) { return entry.second == handle; });
    return 0;
}

int luapife_test_get_obj_val(int handle, int session, const char *path)
{
    if (object_call_refused(handle, session, path, "luapi.test_get") != 0)
        return -1;
    std::string value;
    const int error = kvtsim::object_read(path, value);
    return error == 0 ? 0 : fail(error);
}

// A value longer than the buffer is cut to fit; the buffer always ends in
// a NUL within `len` bytes.
int luapife_get_obj_val(int handle, int session, const char *path, char *buf, int len)
{
    if (object_call_refused(handle, session, path, "luapi.get") != 0)
        return -1;
    if (!buf || len <= 0)
        return fail(kvtsim::kLuapiBadValue);
    std::string value;
    if (const int error = kvtsim::object_read(path, value))
        return fail(error);
    // A store damaged behind the service's back: the read answers a text
    // that no object accepts.
    if (fault_fires(std::string("luapi.get_garbled:") + path))
        value = "garbled";
    const std::size_t copied = std::min(value.size(), static_cast<std::size_t>(len) - 1);
    std::memcpy(buf, value.data(), copied);
    buf[copied] = '\0';
    return 0;
}

int luapife_test_set_obj_val(int handle, int session, const char *path, const char *value)
{
    if (object_call_refused(handle, session, path, "luapi.test_set") != 0)
        return -1;
    if (!value)
        return fail(kvtsim::kLuapiBadValue);
    const int error = kvtsim::object_check(path, value);
    return error == 0 ? 0 : fail(error);
}

int luapife_set_obj_val(int handle, int session, const char *path, const char *value)
{
    int result = object_call_refused(handle, session, path, "luapi.set");
    if (result == 0 && !value)
        result = fail(kvtsim::kLuapiBadValue);
    if (result == 0) {
        const int error = kvtsim::object_write(path, value);
        result = error == 0 ? 0 : fail(error);
    }
    kvtsim::journal_call(std::string("luapife_set_obj_val ") + (path ? path : "") + " " +
                             (value ? value : ""),
                         result);
    return result;
}

} // extern "C"

int kvtsim::object_connections_open()
{
    const std::lock_guard lock(table_mutex);
    return static_cast<int>(open_handles.size());
}
