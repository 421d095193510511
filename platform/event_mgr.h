/* Event manager (publish and subscribe) and the process monitor. */
#ifndef KVT_PLATFORM_EVENT_MGR_H
#define KVT_PLATFORM_EVENT_MGR_H

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned long event_mgr_handle_t;

/* Called on the event manager's delivery thread, one message at a time. */
typedef void (*event_mgr_callback_t)(void *unused, int event_class, int event_type, void *data,
                                     unsigned int length, void *extra);

int event_mgr_get_handle(event_mgr_handle_t *handle, event_mgr_callback_t callback, void *arg);
int event_mgr_subscribe_event_class(event_mgr_handle_t handle, int event_class);
int event_mgr_release_handle(event_mgr_handle_t handle);
int event_mgr_post_event(int event_class, int event_type, const void *data, unsigned int length);

int procmon_getSystemState(void);

#ifdef __cplusplus
}
#endif

#endif
