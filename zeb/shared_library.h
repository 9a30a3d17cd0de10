#pragma once
// Loading the application library and finding its exports.

const char *ZEB_GetSOExtension();
void *ZEB_SOLoad(const char *path);
void *ZEB_SOGetSymbol(void *handle, const char *name);
// Unloads once: the caller's variable is null afterwards.
void ZEB_SOUnload(void **handle);
