#include <gtest/gtest.h>

#include "harness.h"
#include "zeb/log.h"

namespace {

TEST(ErrorBox, ShowsExactlyTheTitleAndTextGiven) {
  harness::DialogWatcher watcher(harness::host_path(QUARLO_DIALOG_WATCHER), GetCurrentProcessId());
  ASSERT_TRUE(watcher.running());
  ZEB_LogError("marker", "unchanged");
  // Returns only once the watcher has pressed OK.
  ZEB_ErrorBox("Cannot load Quarlo", "Error:\n%s\n\nPlease contact support.",
               "ZEB_SOLoad: 'LoadLibrary' failed to find 'C:\\d\\\xC3\xA9.dll' with error 0x7E");
  const auto dialogs = watcher.stop();
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].title, "Cannot load Quarlo");
  EXPECT_EQ(dialogs[0].text,
            "Error:\nZEB_SOLoad: 'LoadLibrary' failed to find 'C:\\d\\\xC3\xA9.dll' with error "
            "0x7E\n\nPlease contact support.");
  EXPECT_STREQ(ZEB_GetLog(), "marker: unchanged") << "a box is not a log report";
}

}  // namespace
