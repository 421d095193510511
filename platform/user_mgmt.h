/* User-management library and the system's password-file services. */
#ifndef KVT_PLATFORM_USER_MGMT_H
#define KVT_PLATFORM_USER_MGMT_H

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One enumerated account: its name and its roles in serialized text form. */
struct um_atent {
    char *name;
    char *roles;
};

void um_endatent(void);
int um_getatent_r(struct um_atent *entry, char *buf, size_t buflen, struct um_atent **result);
int um_unserialize_roles(const char *roles, uint32_t *mask);
int um_get_local_user_attr_password(const char *name, char *buf, size_t buflen);
int um_set_local_user_password(const char *name, const char *password);
int um_user_is_proxy(const char *name);
int um_is_user_enabled(int which);
int um_add_local_user(const char *name, uid_t uid);
int um_delete_local_user(const char *name);
int um_set_local_user_roles(const char *name, uint32_t mask);
uid_t um_get_root_marn_uid(void);

/* The password-file lock (lckpwdf/ulckpwdf on the SP) and the "is this
 * Linux user id taken" lookup (getpwuid on the SP). */
int pwdb_lock(void);
int pwdb_unlock(void);
int pwdb_uid_exists(uid_t uid);

#ifdef __cplusplus
}
#endif

#endif
