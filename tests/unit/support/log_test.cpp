#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "zeb/log.h"
#include "zeb/memory.h"

namespace {

struct Recorder {
  std::vector<std::string> messages;
};

void record(const char *message, void *opaque) {
  static_cast<Recorder *>(opaque)->messages.push_back(message);
}

void report_again(const char *message, void *opaque) {
  record(message, opaque);
  ZEB_LogError("nested", "must be dropped");
}

class LogReports : public testing::Test {
 protected:
  void TearDown() override { ZEB_SetLogCallback(nullptr, nullptr); }
  Recorder recorder;
};

TEST_F(LogReports, ComposesTagAndMessage) {
  ZEB_SetLogCallback(record, &recorder);
  ZEB_LogError("ZEB_SOLoad", "'LoadLibrary' failed to find '%s' with error 0x%X", "app.dll", 126u);
  const std::string expected = "ZEB_SOLoad: 'LoadLibrary' failed to find 'app.dll' with error 0x7E";
  EXPECT_EQ(ZEB_GetLog(), expected);
  ASSERT_EQ(recorder.messages.size(), 1u);
  EXPECT_EQ(recorder.messages[0], expected);
}

// Unchecked varargs entry, so a tag with a conversion can be passed matching arguments.
void report(const char *tag, const char *format, ...) {
  va_list args;
  va_start(args, format);
  log_core(tag, format, args);
  va_end(args);
}

TEST_F(LogReports, TagIsPartOfTheFormat) {
  report("pass %d", "library %s", 7, "app.dll");
  EXPECT_STREQ(ZEB_GetLog(), "pass 7: library app.dll");
}

TEST_F(LogReports, ReportsFromInsideTheCallbackAreDropped) {
  ZEB_SetLogCallback(report_again, &recorder);
  ZEB_LogError("outer", "first");
  EXPECT_STREQ(ZEB_GetLog(), "outer: first");
  EXPECT_EQ(recorder.messages.size(), 1u);
}

TEST_F(LogReports, LastMessageIsPerThreadAndEmptyBeforeAnyReport) {
  ZEB_LogError("main", "on the main thread");
  std::string seen = "unset";
  std::thread([&] { seen = ZEB_GetLog(); }).join();
  EXPECT_EQ(seen, "");
  EXPECT_STREQ(ZEB_GetLog(), "main: on the main thread");
}

TEST_F(LogReports, LongReportsAreCutToTheScratchBuffer) {
  std::string long_text(9000, 'm');
  ZEB_LogError("t", "%s", long_text.c_str());
  EXPECT_EQ(std::string(ZEB_GetLog()).size(), 8191u);
}

TEST_F(LogReports, FatalEndsWithCodeOneAfterTheCallback) {
  EXPECT_EXIT(
      {
        ZEB_SetLogCallback(
            [](const char *message, void *) { fprintf(stderr, "seen: %s\n", message); }, nullptr);
        ZEB_LogFatal("zeb_tlocal", "Thread local storage heap overflow");
      },
      testing::ExitedWithCode(1), "seen: zeb_tlocal: Thread local storage heap overflow");
}

// Lasting heap exhaustion on demand: the test links with calloc wrapped.
bool starve_heap = false;
}  // namespace
extern "C" void *__real_calloc(size_t count, size_t size);
extern "C" void *__wrap_calloc(size_t count, size_t size) {
  return starve_heap ? nullptr : __real_calloc(count, size);
}
namespace {

TEST_F(LogReports, FatalUnderLastingHeapExhaustionEndsQuietlyWithCodeOne) {
  // The report cannot be composed; what must not happen is a report that recurses through
  // the allocator until the stack overflows.
  EXPECT_EXIT(
      {
        ZEB_LogError("before", "the thread's own state exists");
        starve_heap = true;
        ZEB_Alloc(1, 1);
      },
      testing::ExitedWithCode(1), testing::Eq(std::string()));
}

struct HookCall {
  int calls = 0;
  int32_t level = 0;
  std::string message;
  int32_t sixth = -1, seventh = -1;
};

void hook(const char *a, const char *b, int c, int32_t level, const char *message, int32_t sixth,
          int32_t seventh, void *opaque) {
  auto *call = static_cast<HookCall *>(opaque);
  EXPECT_STREQ(a, "");
  EXPECT_STREQ(b, "");
  EXPECT_EQ(c, 0);
  ++call->calls;
  call->level = level;
  call->message = message;
  call->sixth = sixth;
  call->seventh = seventh;
}

TEST(LogHook, ReceivesFormattedMessages) {
  HookCall call;
  ZEB_SetLogHook(hook, &call);
  ZEB_Log(3, "IPC name in args: %s", "xQUARLO_IPC_1y");
  ZEB_SetLogHook(nullptr, nullptr);
  EXPECT_EQ(call.calls, 1);
  EXPECT_EQ(call.level, 3);
  EXPECT_EQ(call.message, "IPC name in args: xQUARLO_IPC_1y");
  EXPECT_EQ(call.sixth, 0);
  EXPECT_EQ(call.seventh, 1);
  ZEB_Log(3, "no hook: %s", "nothing happens");
  EXPECT_EQ(call.calls, 1);
}

}  // namespace
