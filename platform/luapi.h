/* Configuration-object service: sessions and object values as text. */
#ifndef KVT_PLATFORM_LUAPI_H
#define KVT_PLATFORM_LUAPI_H

#ifdef __cplusplus
extern "C" {
#endif

/* Error number of the last failed call. */
extern int luapi_errno;

int luapife_open(int mode);
int luapife_session_create(int handle, const char *user, int flags, int mode, int *session);
int luapife_session_destroy(int handle, int session);
int luapife_close(int handle);
int luapife_test_get_obj_val(int handle, int session, const char *path);
int luapife_get_obj_val(int handle, int session, const char *path, char *buf, int len);
int luapife_test_set_obj_val(int handle, int session, const char *path, const char *value);
int luapife_set_obj_val(int handle, int session, const char *path, const char *value);

#ifdef __cplusplus
}
#endif

#endif
