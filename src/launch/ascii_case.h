#pragma once
// Names compared as the runtime's case-insensitive comparison does: ASCII letters folded to lower
// case, every other byte as it is.

bool equal_ignoring_ascii_case(const char *a, const char *b);
