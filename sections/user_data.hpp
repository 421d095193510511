// The user-data backup policy as the user and CLI-mode sections see it.
#pragma once

#include "card/image.hpp"

namespace kvt {

// True while the card is to carry no users, roles or CLI modes.
inline bool user_data_backup_off(const Image &image)
{
    return (image.miscbits.get() & KVT_NO_BACKUP_USER_DATA) != 0;
}

// True (after its log line) when a snapshot of user data is to be skipped.
bool snapshot_skipped_by_policy();

} // namespace kvt
