#pragma once
// Fatal report for broken invariants in the launcher's utilities.
#include <cstdint>

// Reports "util_logfatal: <source path> line <line>: <message>" and ends the process with exit
// code 1. The source path is the caller's own ("../src/util/json", "../src/util/text").
[[noreturn]] void util_logfatal(const char *source_path, int32_t line, const char *message);
