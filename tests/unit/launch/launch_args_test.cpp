#include "src/launch/launch_args.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zeb/memory.h"

namespace {

struct List {
  char *entries[LAUNCH_LIST_ENTRIES] = {};
  int32_t count = 0;
  explicit List(const std::vector<std::string> &arguments) {
    std::vector<char *> pointers;
    for (const auto &a : arguments) pointers.push_back(const_cast<char *>(a.c_str()));
    count = launch_args_copy(int32_t(pointers.size()), pointers.data(), entries);
  }
  ~List() {
    for (char *e : entries) ZEB_Free(e);
  }
};

std::vector<std::string> numbered(int n) {
  std::vector<std::string> arguments;
  for (int i = 0; i < n; ++i) arguments.push_back("arg" + std::to_string(i));
  return arguments;
}

TEST(ArgumentList, MarkerIsAppendedWhileThereIsRoom) {
  List empty({});
  EXPECT_EQ(empty.count, 1);
  EXPECT_STREQ(empty.entries[0], "LOADER_V15");

  List full(numbered(127));
  EXPECT_EQ(full.count, 128);
  EXPECT_STREQ(full.entries[126], "arg126");
  EXPECT_STREQ(full.entries[127], "LOADER_V15");
}

TEST(ArgumentList, OverflowKeeps128EntriesWithoutMarker) {
  for (int n : {128, 129, 500}) {
    List list(numbered(n));
    EXPECT_EQ(list.count, 128) << n;
    EXPECT_STREQ(list.entries[127], "arg127");
    EXPECT_EQ(launch_args_find(list.entries, "LOADER_V15"), nullptr);
  }
}

TEST(ArgumentList, EntriesAreCopies) {
  std::string argument = "original";
  List list({argument});
  argument[0] = 'X';
  EXPECT_STREQ(list.entries[0], "original");
}

TEST(LaunchMode, MarkersAnywhereInAnEntry) {
  EXPECT_EQ(launch_mode(List({"quarlo.exe"}).entries), LAUNCH_MODE_NORMAL);
  EXPECT_EQ(launch_mode(List({"quarlo.exe", "--pipe=xxQUARLO_IPC_42yy"}).entries), LAUNCH_MODE_IPC);
  EXPECT_EQ(launch_mode(List({"quarlo.exe", "/SERVICE_LAUNCHED"}).entries), LAUNCH_MODE_SERVICE);
  EXPECT_EQ(launch_mode(List({"SERVICE_LAUNCHED", "QUARLO_IPC_"}).entries), LAUNCH_MODE_IPC);
  EXPECT_EQ(launch_mode(List({"SERVICE_LAUNCHEDQUARLO_IPC_x"}).entries), LAUNCH_MODE_IPC)
      << "an entry with both markers is an IPC launch";
  EXPECT_EQ(launch_mode(List({"quarlo_ipc_lower", "service_launched"}).entries), LAUNCH_MODE_NORMAL)
      << "markers are case-sensitive";
}

TEST(LaunchMode, FindReturnsTheFirstMatchingEntry) {
  List list({"a", "one QUARLO_IPC_1", "two QUARLO_IPC_2"});
  EXPECT_STREQ(launch_args_find(list.entries, "QUARLO_IPC_"), "one QUARLO_IPC_1");
}

TEST(LaunchMode, CounterFileNames) {
  char name[8];
  launch_counter_name(LAUNCH_MODE_NORMAL, name);
  EXPECT_STREQ(name, "cc0.txt");
  launch_counter_name(LAUNCH_MODE_IPC, name);
  EXPECT_STREQ(name, "cc2.txt");
}

}  // namespace
