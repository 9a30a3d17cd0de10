#pragma once
// Whether a junction or symbolic link may redirect a privileged launch: only when nobody but the
// accounts that administer the machine can change or remove it. Descriptors are the platform's
// security descriptors, typed `void *` so that pure code can include this header.

// True when the link's owner is an administering account (real_path_trusted_owner), the link's
// DACL allows no other account to write its data, attributes or extended attributes, change its
// permissions or owner, or delete it, and its directory is trusted (directory_trusted: owned by
// an administering account, which alone may delete its entries or re-permission it). Generic
// rights count as the file rights they stand for; inherit-only entries are ignored; a missing or
// null DACL allows everything; a denying entry is not credited (only what is allowed counts); a
// null descriptor is not trusted. Reads the descriptors only.
bool link_trusted(const void *link_descriptor, const void *directory_descriptor);

#ifdef _WIN32
// The same rule over open objects: the owners and DACLs of `object` and of the directory open as
// `directory`. Untrusted when either cannot be read.
bool link_trusted_open(void *object, void *directory);
// The same where the directory is asked for by name: the one that holds `path`, through whatever
// links lead to it, since that is the directory the object was found in.
bool link_trusted_in_directory_of(void *object, const wchar_t *path);
#endif
