#pragma once
// Which objects in a data directory a launch may believe, judged by who owns them and who else
// may change them. An owner can always re-permission what it owns, so an object counts only with
// an owner the launch trusts. Descriptors and SIDs are the platform's, typed `void *` so that
// pure code can include this header.

// A directory whose entries nobody but the administering accounts (real_path_trusted_owner) can
// remove or re-permission: it is owned by one of them, and its DACL allows no other account to
// delete its entries, change its permissions or take it over. Adding entries is allowed, as
// C:\ProgramData allows it to users. The rule for the data directory of a launch as a service
// account, and for the directory of a link that a privileged launch follows. A null descriptor
// is not trusted.
bool directory_trusted(const void *directory_descriptor);

#ifdef _WIN32
// The same rule over the directory open as `directory` (owner and DACL read through the handle);
// untrusted when they cannot be read.
bool directory_trusted_open(void *directory);
#endif
