#pragma once
// Resolution of local paths through junctions and symbolic links.
#include <cstdint>

// Absolute form of path with every local junction and symbolic link replaced by its target,
// without trailing separators except a root's (network paths are returned as the full-path routine
// gives them). Never null; the caller releases it with ZEB_Free.
char *resolve_real_path(const char *path);
// The same for a privileged launch: only links that nobody but administering accounts can change
// or remove (link_trusted) are replaced; others are left in the path as they are.
char *resolve_real_path_trusted_links(const char *path);

// Target of path when path itself is a junction or symbolic link on a local volume, else
// null. The caller releases it with ZEB_Free.
char *read_link_target(const char *path);

// A symbolic link's print name (printNameLength bytes of UTF-16 at printNameOffset in the
// name area), made absolute against the directory of linkPath when relative. Heap UTF-8.
char *make_link_target_path(const char *linkPath, bool relative, const void *names,
                            uint16_t printNameOffset, uint16_t printNameLength);

// Asks whether path is a link: a heap target, or null when it is not.
using LinkLookup = char *(*)(const char *path, void *context);

// Upper bound on substitutions, so a cycle of links ends with the path reached by then.
constexpr int32_t REAL_PATH_MAX_SUBSTITUTIONS = 64;

// The substitution loop behind resolve_real_path, over an absolute working path (heap,
// taken over): strips trailing separators (a root keeps its one), then replaces the whole path or
// its longest linked prefix by the link's target until nothing is a link. Returns a heap text.
char *resolve_links(char *workingPath, LinkLookup lookup, void *context);

// Whether the account `sid` (laid out as the platform lays out a SID, `size` bytes) administers
// the machine (Administrators, SYSTEM, TrustedInstaller): only links such accounts own and alone
// can change may redirect a privileged launch. Links that users planted stay in the path, where
// the locks refuse them.
bool real_path_trusted_owner(const void *sid, uint32_t size);
