// A stable sort on top of the runtime's qsort, which gives no stability guarantee.
#include <cstdlib>
#include <cstring>

#include "zeb/file_list.h"
#include "zeb/memory.h"

namespace {

// qsort passes no context, so every pair carries the caller's comparison.
struct SortPair {
  int (*compare)(const void *, const void *);
  const unsigned char *element;  // into the copy array, which keeps the input order
};

int compare_pairs(const void *a, const void *b) {
  const auto *first = static_cast<const SortPair *>(a);
  const auto *second = static_cast<const SortPair *>(b);
  const int order = first->compare(first->element, second->element);
  if (order != 0) return order;
  // Equal elements: the one that stood earlier comes first.
  if (first->element == second->element) return 0;
  return first->element < second->element ? -1 : 1;
}

}  // namespace

void ZEB_Sort(void *base, uint64_t num, uint64_t size, int (*compare)(const void *, const void *)) {
  if (num < 2 || size == 0) return;
  auto *copies = static_cast<unsigned char *>(ZEB_Alloc(num, size));
  memcpy(copies, base, num * size);
  auto *pairs = static_cast<SortPair *>(ZEB_Alloc(num, sizeof(SortPair)));
  for (uint64_t i = 0; i < num; ++i) pairs[i] = {compare, copies + i * size};
  qsort(pairs, num, sizeof(SortPair), compare_pairs);
  auto *out = static_cast<unsigned char *>(base);
  for (uint64_t i = 0; i < num; ++i) memcpy(out + i * size, pairs[i].element, size);
  ZEB_Free(pairs);
  ZEB_Free(copies);
}
