#pragma once
// Which objects in a data directory a launch may believe, judged by who owns them and who else
// may change them: a directory, a crash-counter record, a lock directory. An owner can always
// re-permission what it owns, so an object counts only with an owner the launch trusts.
// Descriptors and SIDs are the platform's, typed `void *` so that pure code can include this
// header.

// A directory whose entries nobody but the administering accounts (real_path_trusted_owner) can
// remove or re-permission: it is owned by one of them, and its DACL allows no other account to
// delete its entries, change its permissions or take it over. Adding entries is allowed, as
// C:\ProgramData allows it to users. The rule for the data directory of a launch as a service
// account, and for the directory of a link that a privileged launch follows. A null descriptor
// is not trusted.
bool directory_trusted(const void *directory_descriptor);
// Why directory_trusted refuses a directory, in words, or null when it does not.
const char *directory_distrust(const void *directory_descriptor);

// Whether a crash-counter record counts toward a crash loop. A record owned by an administering
// account counts when its DACL lets no account but the administering ones and the launch's own
// (`own_sid`, the token's user; may be null) write its data, change its permissions or take it
// over, also when SYSTEM is the launch's own account: a user who could rewrite a file that SYSTEM
// owns and rename it into place would otherwise forge SYSTEM's record. Otherwise a record counts
// when the launch's own account owns it. Another user's record never counts; a null descriptor
// does not count.
bool record_trusted(const void *record_descriptor, const void *own_sid);

// Whether a directory met under the name `lock` or `lock_client` is the installation's own: owned
// by the launch's own account or by an administering account, it stops a recovery. One that
// another account owns is not the application's lock file, and every launch leaves it in place.
// A descriptor without a readable owner counts as ours.
bool lock_directory_ours(const void *directory_descriptor, const void *own_sid);

#ifdef _WIN32
// The same rules over open objects (owner and DACL read through the handle), with this process's
// token user as the own account. Where the volume keeps no owners or permissions (FAT, exFAT),
// every record counts and every lock directory is ours, as when owners were not asked; a
// directory there is not trusted. Objects whose descriptor cannot be read are judged as a null
// descriptor.
const char *directory_distrust_open(void *directory);
bool record_trusted_open(void *record);
bool lock_directory_ours_open(void *directory);
#endif
