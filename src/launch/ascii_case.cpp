#include "src/launch/ascii_case.h"

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

}  // namespace

bool equal_ignoring_ascii_case(const char *a, const char *b) {
  for (;; ++a, ++b) {
    if (lower(*a) != lower(*b)) return false;
    if (!*a) return true;
  }
}
