// Section 3: the SP's own network settings.
#pragma once

#include "base/luapi_session.hpp"
#include "card/image.hpp"

void get_current_network(luapi_session *session, kvt_image_t *image);
void kvtd_update_ipsettings();
void restore_network();
