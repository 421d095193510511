/* Platform-control library: platform code, power, keyswitch, POST names. */
#ifndef KVT_PLATFORM_CAPI_H
#define KVT_PLATFORM_CAPI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

int capi_get_platform(void);
int capi_power_op(int flags, const char *target, int op);
int capi_get_keyswitch(uint32_t *position);
int capi_set_keyswitch(unsigned char position);
int capi_post_verbosity_type_from_name(const char *name, uint32_t *code);
int capi_post_diaglevel_type_from_name(const char *name, uint32_t *code);
int capi_post_verbosity_name_from_type(unsigned char code, const char **name);
int capi_post_diaglevel_name_from_type(unsigned char code, const char **name);

#ifdef __cplusplus
}
#endif

#endif
