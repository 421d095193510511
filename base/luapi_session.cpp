#include "base/luapi_session.hpp"

#include <cerrno>
#include <cstring>

#include "base/fatal_stop.hpp"
#include "base/log.hpp"
#include "platform/luapi.h"

namespace {

constexpr std::size_t kPathSize = 256;
constexpr const char *kAccount = "marnint";
// The one object whose value is tried before it is set.
constexpr const char *kTestSetPath = "/X/services/ssh/state";

// Keeps at most size - 1 characters and always terminates.
template <std::size_t N> void copy_cut(char (&out)[N], const char *text)
{
    const std::size_t n = ::strnlen(text, N - 1);
    std::memcpy(out, text, n);
    out[n] = '\0';
}

} // namespace

int init_luapi_session(luapi_session *s)
{
    s->handle = luapife_open(1);
    if (s->handle == -1) {
        log_error("luapife_open failed, luapi_errno is %d\n", luapi_errno);
        kvtd_fatal_stop();
    }
    if (luapife_session_create(s->handle, kAccount, 0, 8, &s->session) != -1)
        return 0;

    log_error("luapife_session_create failed luapi_errno is %d\n", luapi_errno);
    if (luapife_close(s->handle) == -1)
        log_error("luapife_close after failed luapife_session_create failed luapi_errno is %d\n",
                  luapi_errno);
    s->handle = -1;
    log_error("luapi_errno is %d\n", luapi_errno);
    log_error("shutting down\n");
    kvtd_fatal_stop();
}

int close_luapi_session(luapi_session *s)
{
    if (luapife_session_destroy(s->handle, s->session) == -1) {
        log_error("luapi_session_destroy failed luapi_errno is %d\n", luapi_errno);
        kvtd_fatal_stop();
    }
    if (luapife_close(s->handle) == -1) {
        log_error("luapife_close failed luapi_errno is %d\n", luapi_errno);
        kvtd_fatal_stop();
    }
    return 0;
}

int get_obj_val(luapi_session *s, const char *path, char *out, std::size_t out_len)
{
    if (luapife_test_get_obj_val(s->handle, s->session, path) == -1) {
        log_error("luapife_test_get_obj_val %s failed luapi_errno: %d\n", path, luapi_errno);
        return -1;
    }
    char value[kObjValueSize] = {};
    // A read that fails after a good test read is logged only: the caller
    // gets what the buffer holds, normally the empty text.
    if (luapife_get_obj_val(s->handle, s->session, path, value, sizeof value) == -1)
        log_error("luapife_get_obj_val FAILED, luapi_errno: %d\n", luapi_errno);
    value[sizeof value - 1] = '\0';

    // Some callers read into buffers smaller than any value can be (the
    // network addresses go into 32 bytes): a longer value is cut to the
    // caller's buffer, never written past it.
    if (out_len == 0)
        return 0;
    const std::size_t n = ::strnlen(value, out_len - 1);
    std::memcpy(out, value, n);
    out[n] = '\0';
    return 0;
}

int set_obj_val(luapi_session *s, const char *path, const char *value)
{
    // Over-long texts are cut rather than refused, like every text the
    // daemon hands on.
    char path_copy[kPathSize];
    char value_copy[kObjValueSize];
    copy_cut(path_copy, path);
    copy_cut(value_copy, value);

    if (std::strcmp(path, kTestSetPath) == 0 &&
        luapife_test_set_obj_val(s->handle, s->session, path_copy, value_copy) != 0) {
        const int error = errno;
        log_error("test set of %s  to %s failed %d\n", path, value, luapi_errno);
        log_error("set_obj_val failed, luapi_errno is  %d errno is %d\n", luapi_errno, error);
        return -1;
    }
    if (luapife_set_obj_val(s->handle, s->session, path_copy, value_copy) == 0)
        return 0;
    const int error = errno;
    log_error("set failed %d\n", luapi_errno);
    log_error("\tpath %s val %s\n", path, value);
    log_error("set_obj_val failed, luapi_errno is  %d errno is %d\n", luapi_errno, error);
    return -1;
}
