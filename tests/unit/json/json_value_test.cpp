#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "src/json/json.h"
#include "tests/unit/json/json_test_support.h"
#include "zeb/log.h"

namespace {

using json_test::cell;
using json_test::Doc;
using json_test::serialize;

double number(json_ref ref) {
  double value = -12345;
  EXPECT_TRUE(json_get_number(ref, &value));
  return value;
}

std::string string_of(json_ref ref) {
  const char *begin = nullptr;
  const char *end = nullptr;
  if (!json_get_string(ref, &begin, &end)) return "<none>";
  return std::string(begin, end);
}

json_ref member(json_ref object, const std::string &key) {
  json_ref out = {};
  EXPECT_TRUE(json_obj_at(object, key.c_str(), &out)) << key;
  return out;
}

void set_text(json_ref ref, const std::string &text) {
  ASSERT_TRUE(json_set_string(ref, text.data(), text.data() + text.size(),
                              json_string_hash(text.data(), text.data() + text.size())));
}

TEST(JsonArena, CreateReservesTheArenaAndTakesANullRoot) {
  Doc d;
  ASSERT_NE(d.doc(), nullptr);
  EXPECT_EQ(d.root.offset, 0u);
  EXPECT_EQ(d.doc()->capacity, 16384u);
  EXPECT_EQ(d.doc()->used, 16u);
  EXPECT_EQ(d.doc()->options, 0u);
  EXPECT_EQ(cell(d.root)->kind, JSON_NULL);
  EXPECT_EQ(serialize(d.root), "null");
}

TEST(JsonArena, AllocationsAlignZeroFillAndGrowToPowersOfTwo) {
  Doc d;
  ASSERT_TRUE(json_arena_append(d.root, "abc", 3));
  EXPECT_EQ(d.doc()->used, 19u) << "appends are unaligned";
  uint32_t at = 0;
  ASSERT_TRUE(json_arena_alloc(d.root, 20000, 8, &at));
  EXPECT_EQ(at, 24u);
  EXPECT_EQ(d.doc()->used, 20024u);
  EXPECT_EQ(d.doc()->capacity, 32768u);
  for (uint32_t i = 0; i < 20000; ++i) ASSERT_EQ(d.doc()->arena[at + i], 0) << i;
  // Space released by lowering used comes back zero-filled when taken again.
  memset(d.doc()->arena + at, 0xAB, 64);
  d.doc()->used = at;
  ASSERT_TRUE(json_arena_alloc(d.root, 64, 8, &at));
  for (uint32_t i = 0; i < 64; ++i) ASSERT_EQ(d.doc()->arena[at + i], 0) << i;
  EXPECT_FALSE(json_arena_alloc(d.root, 0x80000000u, 8, &at)) << "beyond 32-bit offsets";
  EXPECT_FALSE(json_arena_alloc(d.root, 8, 12, &at)) << "alignment not a power of two";
  EXPECT_EQ(d.doc()->used, 24u + 64u);
}

TEST(JsonHandles, InvalidHandlesFailWithoutEffect) {
  Doc d;
  const json_ref invalid = {};
  const json_ref past_end = {d.doc(), d.doc()->used};
  const json_ref misaligned = {d.doc(), 3};
  for (const json_ref ref : {invalid, past_end}) EXPECT_FALSE(json_ref_valid(ref));
  for (const json_ref ref : {invalid, past_end, misaligned}) {
    EXPECT_EQ(json_resolve(ref), nullptr);
    json_ref out = {};
    EXPECT_FALSE(json_obj_at(ref, "k", &out));
    EXPECT_EQ(json_array_at(ref, 0).doc, nullptr);
    EXPECT_EQ(json_obj_get(ref, "k").doc, nullptr);
    EXPECT_FALSE(json_set_string(ref, "a", "a" + 1, 0));
    json_set_number(ref, 1);
    EXPECT_EQ(serialize(ref), "<failed>");
  }
  EXPECT_FALSE(json_serialize(nullptr, d.root));
  EXPECT_EQ(d.doc()->used, 16u);
  json_destroy(invalid);
}

TEST(JsonCoercion, ScalarReadsNeverChangeTheCell) {
  Doc d;
  set_text(d.root, "x");
  double value = 7;
  EXPECT_FALSE(json_get_number(d.root, &value));
  EXPECT_EQ(value, 7);
  EXPECT_EQ(json_get_uint64(d.root), 0u);
  EXPECT_FALSE(json_get_bool(d.root));
  EXPECT_EQ(string_of(d.root), "x");
  json_set_number(d.root, 2.5);
  EXPECT_EQ(string_of(d.root), "<none>");
  EXPECT_EQ(number(d.root), 2.5);
}

TEST(JsonCoercion, ContainerAccessReplacesOtherKinds) {
  Doc d;
  json_set_number(d.root, 3);
  EXPECT_EQ(json_obj_get(d.root, "hash").doc, nullptr);
  EXPECT_EQ(cell(d.root)->kind, JSON_OBJECT);
  EXPECT_EQ(cell(d.root)->w3, 0u);
  EXPECT_EQ(serialize(d.root), "{}");

  json_array_at(d.root, 1);
  EXPECT_EQ(serialize(d.root), "[null,null]");
}

TEST(JsonValues, NumbersThatAreNotFiniteAreStoredAsZero) {
  Doc d;
  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(),
                     -std::numeric_limits<double>::infinity()}) {
    json_set_number(d.root, 1);
    json_set_number(d.root, bad);
    EXPECT_EQ(number(d.root), 0.0);
  }
}

TEST(JsonValues, StringsKeepTheirHashLengthAndEmbeddedNul) {
  Doc d;
  const std::string text("a\0b", 3);
  set_text(d.root, text);
  const json_cell *c = cell(d.root);
  EXPECT_EQ(c->kind, JSON_STRING);
  EXPECT_EQ(c->w3, 3u);
  EXPECT_EQ(c->w2, json_string_hash(text.data(), text.data() + 3));
  EXPECT_EQ(string_of(d.root), text);
  const char *begin, *end;
  ASSERT_TRUE(json_get_string(d.root, &begin, &end));
  EXPECT_EQ(*end, '\0');
  // djb2 takes the bytes as signed values.
  EXPECT_EQ(json_string_hash("", ""), 5381u);
  const char high[] = "\xE9";
  EXPECT_EQ(json_string_hash(high, high + 1), 5381u * 33 - 23);
}

TEST(JsonArrays, CapacityStartsAt64AndDoubles) {
  Doc d;
  json_array_at(d.root, 0);
  EXPECT_EQ(cell(d.root)->w2, 64u);
  EXPECT_EQ(cell(d.root)->w3, 1u);
  json_array_at(d.root, 64);
  EXPECT_EQ(cell(d.root)->w2, 128u);
  EXPECT_EQ(cell(d.root)->w3, 65u);

  Doc fresh;
  json_array_at(fresh.root, 200);
  EXPECT_EQ(cell(fresh.root)->w2, 256u);
  EXPECT_EQ(cell(fresh.root)->w3, 201u);
  for (uint32_t i = 0; i < 200; ++i) ASSERT_EQ(cell(json_array_at(fresh.root, i))->kind, JSON_NULL);
  EXPECT_EQ(cell(fresh.root)->w3, 201u) << "reading below count does not extend it";
  EXPECT_FALSE(json_array_grow(fresh.root, 100)) << "fewer cells than elements in use";
}

TEST(JsonArrays, ElementHandlesSurviveBlockMovesAndArenaGrowth) {
  Doc d;
  const json_ref first = json_array_at(d.root, 0);
  json_set_number(first, 1);
  const json_ref fifth = json_array_at(d.root, 4);
  set_text(fifth, "five");
  json_array_at(d.root, 5000);  // moves the block and reallocates the arena
  EXPECT_GT(d.doc()->capacity, 16384u);
  EXPECT_EQ(number(first), 1);
  EXPECT_EQ(string_of(fifth), "five");
  json_set_number(first, 10);
  EXPECT_EQ(number(json_array_at(d.root, 0)), 10);
  EXPECT_EQ(cell(d.root)->w3, 5001u);
}

TEST(JsonForwarding, ChainsAreCompressedWhenFollowed) {
  Doc d;
  const json_ref element = json_array_at(d.root, 0);
  json_set_number(element, 42);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(json_array_grow(d.root, 64));
  const uint32_t final_offset = cell(d.root)->w1;
  // Three forwarding cells lead from the handle to the element.
  const json_cell *head = reinterpret_cast<json_cell *>(d.doc()->arena + element.offset);
  ASSERT_EQ(head->kind, JSON_FORWARD);
  EXPECT_NE(head->w1, final_offset);
  EXPECT_EQ(number(element), 42);
  EXPECT_EQ(head->kind, JSON_FORWARD);
  EXPECT_EQ(head->w1, final_offset) << "one step after compression";
}

TEST(JsonForwarding, AtMostSixteenStepsAreFollowed) {
  Doc d;
  const json_ref element = json_array_at(d.root, 0);
  json_set_number(element, 5);
  for (int i = 0; i < 16; ++i) ASSERT_TRUE(json_array_grow(d.root, 64));
  EXPECT_EQ(number(element), 5) << "16 forwarding cells";

  Doc e;
  const json_ref deep = json_array_at(e.root, 0);
  for (int i = 0; i < 17; ++i) ASSERT_TRUE(json_array_grow(e.root, 64));
  EXPECT_EQ(json_resolve(deep), nullptr) << "17 forwarding cells";
  EXPECT_NE(json_resolve(json_array_at(e.root, 0)), nullptr);
}

TEST(JsonForwarding, TargetsOutsideTheUsedArenaDoNotResolve) {
  Doc d;
  const json_ref element = json_array_at(d.root, 0);
  json_cell *c = cell(element);
  c->kind = JSON_FORWARD;
  c->w1 = d.doc()->used;
  EXPECT_EQ(json_resolve(element), nullptr);
  c->w1 = element.offset;  // a cycle ends at the step bound
  EXPECT_EQ(json_resolve(element), nullptr);
}

TEST(JsonObjects, KeysOfEqualHashStayDistinct) {
  Doc d;
  ASSERT_EQ(json_string_hash("az", "az" + 2), json_string_hash("bY", "bY" + 2));
  json_set_number(member(d.root, "az"), 1);
  json_set_number(member(d.root, "bY"), 2);
  EXPECT_EQ(number(json_obj_get(d.root, "az")), 1);
  EXPECT_EQ(serialize(d.root), "{\"az\":1,\"bY\":2}");
}

TEST(JsonObjects, AVacatedSlotIsReused) {
  Doc d;
  member(d.root, "k");
  const uint32_t hash = json_string_hash("k", "k" + 1);
  uint32_t slot = 0, again = 0;
  ASSERT_TRUE(json_obj_find_str(d.root, "k", "k" + 1, hash, &slot));
  cell({d.doc(), cell(d.root)->w1 + 16 * slot})->kind = JSON_REMOVED;
  ASSERT_TRUE(json_obj_find_str(d.root, "k", "k" + 1, hash, &again));
  EXPECT_EQ(again, slot);
}

TEST(JsonObjects, AddingAKeyTwiceGivesTheSameMember) {
  Doc d;
  const json_ref a = member(d.root, "count");
  const json_ref b = member(d.root, "count");
  EXPECT_EQ(a.offset, b.offset);
  EXPECT_EQ(cell(d.root)->w3, 1u);
  EXPECT_EQ(cell(d.root)->w2, 256u);
  json_set_number(a, 2);
  EXPECT_EQ(number(json_obj_get(d.root, "count")), 2);
  EXPECT_EQ(json_obj_get(d.root, "missing").doc, nullptr);
}

TEST(JsonObjects, The65thKeyDoublesTheTableAndOldHandlesKeepWorking) {
  Doc d;
  std::vector<json_ref> values;
  for (int i = 0; i < 64; ++i) {
    values.push_back(member(d.root, "key" + std::to_string(i)));
    json_set_number(values.back(), i);
  }
  EXPECT_EQ(cell(d.root)->w2, 256u);
  const uint32_t old_table = cell(d.root)->w1;
  member(d.root, "key64");
  EXPECT_EQ(cell(d.root)->w2, 512u);
  EXPECT_NE(cell(d.root)->w1, old_table);
  EXPECT_EQ(cell(d.root)->w3, 65u);
  for (int i = 0; i < 64; ++i) {
    ASSERT_EQ(number(values[i]), i);
    json_set_number(values[i], 100 + i);
    ASSERT_EQ(number(json_obj_get(d.root, ("key" + std::to_string(i)).c_str())), 100 + i);
  }
  // Growth happens on any get-or-add with a quarter of the slots in use, even for a known key.
  for (int i = 65; i < 128; ++i) member(d.root, "key" + std::to_string(i));
  EXPECT_EQ(cell(d.root)->w2, 512u);
  member(d.root, "key0");
  EXPECT_EQ(cell(d.root)->w2, 1024u);
  EXPECT_EQ(cell(d.root)->w3, 128u);
}

TEST(JsonObjects, KeysFromTheDocumentItselfSurviveArenaGrowth) {
  Doc d;
  const json_ref source = json_array_at(d.root, 0);
  set_text(source, "copied key");
  const char *text, *end;
  ASSERT_TRUE(json_get_string(source, &text, &end));
  const json_ref object = json_array_at(d.root, 1);
  // The text lies in the arena that the new table is about to move.
  uint32_t filler = 0;
  ASSERT_TRUE(json_arena_alloc(d.root, d.doc()->capacity - d.doc()->used - 100, 8, &filler));
  json_ref value = {};
  ASSERT_TRUE(json_obj_at(object, text, &value));
  EXPECT_EQ(serialize(object), "{\"copied key\":null}");
}

TEST(JsonObjects, IntegerKeysHaveTheirOwnTables) {
  Doc d;
  json_ref value = {};
  ASSERT_TRUE(json_obj_at_u64(d.root, 10, &value));
  json_set_number(value, 1);
  ASSERT_TRUE(json_obj_at_u64(d.root, 2, &value));
  json_set_number(value, 2);
  json_ref again = {};
  ASSERT_TRUE(json_obj_at_u64(d.root, 2, &again));
  EXPECT_EQ(again.offset, value.offset);
  EXPECT_EQ(cell(d.root)->sub, JSON_UINT64);
  EXPECT_EQ(serialize(d.root), "{2:2,10:1}") << "numeric order, bare digits";
  // A string key drops the table of the other kind.
  member(d.root, "s");
  EXPECT_EQ(cell(d.root)->sub, JSON_STRING);
  EXPECT_EQ(serialize(d.root), "{\"s\":null}");
}

TEST(JsonObjects, KeysWithNulBytesCompareByTheirWholeLength) {
  Doc d;
  ASSERT_TRUE(d.parse("{\"a\\u0000y\":2,\"a\\u0000x\":1,\"a\":0,\"a\\u0000\":3}")) << d.error();
  EXPECT_EQ(cell(d.root)->w3, 4u);
  EXPECT_EQ(serialize(d.root), "{\"a\":0,\"a\\u0000\":3,\"a\\u0000x\":1,\"a\\u0000y\":2}");
  uint32_t slot = 0;
  const char key[] = "a\0x";
  ASSERT_TRUE(json_obj_find_str(d.root, key, key + 3, json_string_hash(key, key + 3), &slot));
  const json_cell *table = reinterpret_cast<json_cell *>(d.doc()->arena + cell(d.root)->w1);
  EXPECT_EQ(table[slot].kind, JSON_STRING);
  EXPECT_EQ(table[slot].w3, 3u);
}

TEST(JsonObjects, EntriesAreSortedByUnsignedBytesOrKeptInSlotOrder) {
  Doc d;
  for (const char *key : {"b", "\xC3\xA9", "a", "B", "ab"}) member(d.root, key);
  uint32_t block = 0;
  const uint32_t before = d.doc()->used;
  ASSERT_TRUE(json_obj_entries(d.root, &block));
  EXPECT_EQ(d.doc()->used, block + 5 * 32);
  std::vector<std::string> keys;
  for (int i = 0; i < 5; ++i) {
    json_entry entry;
    memcpy(&entry, d.doc()->arena + block + 32 * i, sizeof entry);
    keys.push_back(string_of(entry.key));
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"B", "a", "ab", "b", "\xC3\xA9"}));
  d.doc()->used = before;

  d.doc()->options = JSON_DOC_KEEP_ORDER;
  ASSERT_TRUE(json_obj_entries(d.root, &block));
  uint32_t previous_slot = 0;
  for (int i = 0; i < 5; ++i) {
    json_entry entry;
    memcpy(&entry, d.doc()->arena + block + 32 * i, sizeof entry);
    const uint32_t slot = (entry.key.offset - cell(d.root)->w1) / 16;
    if (i > 0) {
      EXPECT_GT(slot, previous_slot);
    }
    previous_slot = slot;
  }
}

void print_report(const char *message, void *) { fprintf(stderr, "%s\n", message); }

TEST(JsonObjectsDeathTest, ComparatorsTreatDuplicatesAndNullAsBrokenInvariants) {
  ZEB_SetLogCallback(print_report, nullptr);
  json_entry pair[2] = {};
  EXPECT_EXIT(json_key_compare_str(nullptr, &pair[1]), testing::ExitedWithCode(1),
              "util_logfatal: \\.\\./src/util/json line .*: parameter must not be null");
  EXPECT_EXIT(json_key_compare_u64(&pair[0], nullptr), testing::ExitedWithCode(1),
              "parameter must not be null");
  EXPECT_EXIT(json_key_compare_str(&pair[0], &pair[1]), testing::ExitedWithCode(1),
              "util_logfatal: \\.\\./src/util/json line .*: shouldn't be duplicate keys in a "
              "JSON object");
  EXPECT_EXIT(json_key_compare_u64(&pair[0], &pair[1]), testing::ExitedWithCode(1),
              "shouldn't be duplicate keys");
  ZEB_SetLogCallback(nullptr, nullptr);
}

}  // namespace
