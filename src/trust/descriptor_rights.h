#pragma once
// What a security descriptor lets accounts outside the ones that administer the machine do:
// the common ground of the trust rules for links, directories, crash records and locks.
// Descriptors and SIDs are the platform's, typed `void *`.
#include <cstdint>

#include "src/trust/handle.h"

// Whether `sid` is an administering account (real_path_trusted_owner). Null is not.
bool sid_administers(const void *sid);
// Whether `a` and `b` are the same valid SID. Null is no account.
bool sid_equal(const void *a, const void *b);
// The owner of `descriptor`, or null when it has none or cannot be read.
const void *descriptor_owner(const void *descriptor);
// Whether the DACL of `descriptor` allows any of `rights` to an account that neither administers
// the machine nor is `also_trusted` (may be null). Generic rights count as the file rights they
// stand for; inherit-only entries are ignored; a missing or null DACL allows everything; a
// denying entry is not credited (only what is allowed counts).
bool descriptor_allows_others(const void *descriptor, uint32_t rights, const void *also_trusted);
// The owner and DACL of the object open as `object` (a null holder when they cannot be read).
LocalMemory descriptor_read(void *object);
