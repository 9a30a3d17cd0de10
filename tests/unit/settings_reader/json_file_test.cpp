#include <gtest/gtest.h>

#include <string>

#include "tests/unit/log_capture.h"
#include "zeb/fs.h"
#include "zeb/json_reader.h"

namespace {

class JsonReadFile : public testing::Test {
 protected:
  void TearDown() override { ZEB_DeleteFile(path.c_str()); }
  bool write(const std::string &text) {
    return ZEB_WriteFile(path.c_str(), text.data(), text.size());
  }
  const std::string path = "reader_settings.json";
};

TEST_F(JsonReadFile, ReadsAndParsesTheWholeFile) {
  ASSERT_TRUE(
      write("\xEF\xBB\xBF"  // a byte-order mark is not accepted
            "{}"));
  LogCapture log;
  EXPECT_EQ(ZEB_JSONReadFile(path.c_str()), nullptr);
  ASSERT_EQ(log.messages.size(), 1u);
  EXPECT_EQ(log.messages[0], "ZEB_JSONParse: Parse error at position 0");

  ASSERT_TRUE(
      write("{\r\n  \"so_name\": \"quarlo_app.dll\",\r\n  \"useProgramData\": true\r\n}\r\n"));
  ZEB_JSON *root = ZEB_JSONReadFile(path.c_str());
  ASSERT_NE(root, nullptr);
  char name[256];
  EXPECT_TRUE(ZEB_JSONGetString(ZEB_JSONObjGetItem(root, "so_name"), name, sizeof name));
  EXPECT_STREQ(name, "quarlo_app.dll");
  bool flag = false;
  EXPECT_TRUE(ZEB_JSONGetBool(ZEB_JSONObjGetItem(root, "useProgramData"), &flag));
  EXPECT_TRUE(flag);
  ZEB_JSONDestroy(&root);
}

TEST_F(JsonReadFile, MissingEmptyAndBrokenFilesGiveNull) {
  EXPECT_EQ(ZEB_JSONReadFile("no_such_settings.json"), nullptr);
  ASSERT_TRUE(write(""));
  EXPECT_EQ(ZEB_JSONReadFile(path.c_str()), nullptr);
  ASSERT_TRUE(write("{\"so_name\": \"app.dll\""));
  LogCapture log;
  EXPECT_EQ(ZEB_JSONReadFile(path.c_str()), nullptr);
  ASSERT_EQ(log.messages.size(), 1u);
  EXPECT_EQ(log.messages[0], "ZEB_JSONParse: Parse error at position 21");
}

}  // namespace
