#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "harness.h"
#include "zeb/log.h"
#include "zeb/shared_library.h"

namespace {

std::string library_beside_test() {
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::string path = harness::narrow(exe);
  return path.substr(0, path.rfind('\\') + 1) + "support_test_library.dll";
}

TEST(SharedLibrary, LoadFindCallUnload) {
  EXPECT_STREQ(ZEB_GetSOExtension(), "dll");
  void *library = ZEB_SOLoad(library_beside_test().c_str());
  ASSERT_NE(library, nullptr) << ZEB_GetLog();
  auto answer = reinterpret_cast<int (*)()>(ZEB_SOGetSymbol(library, "quarlo_test_answer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  ZEB_SOUnload(&library);
  EXPECT_EQ(library, nullptr);
  ZEB_SOUnload(&library);  // a second call sees null and does nothing
  ZEB_SOUnload(nullptr);
}

TEST(SharedLibrary, MissingFileLeavesTheFullPathAndError7E) {
  const std::string path = "C:\\no\\such\\dir\\quarlo_app.dll";
  EXPECT_EQ(ZEB_SOLoad(path.c_str()), nullptr);
  EXPECT_EQ(std::string(ZEB_GetLog()),
            "ZEB_SOLoad: 'LoadLibrary' failed to find '" + path + "' with error 0x7E");
}

TEST(SharedLibrary, MissingExportLeavesError7F) {
  void *library = ZEB_SOLoad(library_beside_test().c_str());
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(ZEB_SOGetSymbol(library, "wx_main"), nullptr);
  EXPECT_STREQ(ZEB_GetLog(),
               "ZEB_SOGetSymbol: 'GetProcAddress' failed to find 'wx_main' with error 0x7F");
  ZEB_SOUnload(&library);
}

}  // namespace
