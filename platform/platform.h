/* Every operation of the SP's closed services that the daemon calls. */
#ifndef KVT_PLATFORM_PLATFORM_H
#define KVT_PLATFORM_PLATFORM_H

#include "platform/capi.h"
#include "platform/card_lib.h"
#include "platform/event_mgr.h"
#include "platform/i2c.h"
#include "platform/ipmi.h"
#include "platform/logging.h"
#include "platform/luapi.h"
#include "platform/user_mgmt.h"
#include "platform/util.h"

#endif
