// Access to the configuration-object service: open, read, set, close.
#pragma once

#include <cstddef>

struct luapi_session {
    int handle = -1;
    int session = -1;
};

inline constexpr std::size_t kObjValueSize = 1024;

// Returns 0; every failure ends in the fatal stop.
int init_luapi_session(luapi_session *s);
int close_luapi_session(luapi_session *s);

// 0 with the value in `out` (cut to out_len - 1 characters), or -1 with
// `out` untouched.
int get_obj_val(luapi_session *s, const char *path, char *out, std::size_t out_len);

// 0 when the service accepted the value, else -1.
int set_obj_val(luapi_session *s, const char *path, const char *value);
