/* IPMI library: the internal session and the user-id mapping. */
#ifndef KVT_PLATFORM_IPMI_H
#define KVT_PLATFORM_IPMI_H

#include <stdint.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque to the daemon; storage is the caller's. */
typedef struct {
    unsigned char opaque[64];
} IPMI20_SESSION_T;

int LIBIPMI_Create_Internal_Session(IPMI20_SESSION_T *session, uint8_t *privilege, int timeout);
int LIBIPMI_CloseSession(IPMI20_SESSION_T *session);
uid_t ipmi_uid_to_linux_uid(uint8_t ipmi_uid);

#ifdef __cplusplus
}
#endif

#endif
