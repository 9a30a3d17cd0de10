#pragma once
// The inner steps of the permission changes, kept callable on their own so that they can be
// checked where the platform does not keep security changes (Windows only).
#include <windows.h>

// Builds in `out` (initialised here as an absolute descriptor) a copy of the DACL of
// `file_sd` with an entry allowing `everyone` the access mask `rights`: the explicit entries that
// do not name `everyone`, then the new entry, then the inherited entries in their order. The
// protection and auto-inheritance of the old DACL are carried over. On success *list is the new
// ACL, which `out` points at; release it with HeapFree(GetProcessHeap(), 0, *list) after use. On
// failure *list is null and the failed call has been reported.
bool util_everyone_dacl(PSECURITY_DESCRIPTOR file_sd, PSID everyone, DWORD rights,
                        SECURITY_DESCRIPTOR *out, PACL *list);

// util_take_ownership after the platform refused `list`: with the take-ownership privilege
// switched on just around it, makes `admins` the owner of the file open as `file`, then sets
// `list` again.
bool util_owner_then_dacl(HANDLE file, PSID admins, PACL list);
