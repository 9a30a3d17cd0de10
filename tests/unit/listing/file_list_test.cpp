#include "zeb/file_list.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "zeb/fs.h"
#include "zeb/memory.h"
#include "zeb/unicode.h"

namespace {

using Names = std::vector<std::string>;

std::wstring wide(const std::string &text) {
  ZEB_WideText converted(text.c_str());
  return converted.get();
}

// A fresh directory under the temporary directory, removed with its contents afterwards.
class Listing : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    char *base = ZEB_WideToMultiD(temp);
    static int counter = 0;
    dir_ = std::string(base) + "quarlo-listing-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++counter);
    ZEB_Free(base);
    ASSERT_TRUE(CreateDirectoryW(wide(dir_).c_str(), nullptr)) << GetLastError();
  }
  void TearDown() override { remove_tree(dir_); }

  static void remove_tree(const std::string &path) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(wide(path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        char *name = ZEB_WideToMultiD(found.cFileName);
        const std::string child = path + "\\" + name;
        ZEB_Free(name);
        if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0) continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          remove_tree(child);
        } else {
          DeleteFileW(wide(child).c_str());
        }
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
    RemoveDirectoryW(wide(path).c_str());
  }

  void file(const std::string &name, const std::string &content = "") {
    HANDLE h = CreateFileW(wide(dir_ + "\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << name << ": " << GetLastError();
    DWORD written = 0;
    if (!content.empty()) WriteFile(h, content.data(), DWORD(content.size()), &written, nullptr);
    CloseHandle(h);
  }
  void subdir(const std::string &name) {
    ASSERT_TRUE(CreateDirectoryW(wide(dir_ + "\\" + name).c_str(), nullptr)) << name;
  }

  static Names names(const ZEB_FileList *list) {
    Names out;
    for (uint32_t i = 0; i < list->len; ++i) out.push_back(list->files[i].name);
    return out;
  }

  Names list_names(const char *filter) {
    ZEB_FileList *list = ZEB_GetFileList(dir_.c_str(), filter);
    Names out = names(list);
    ZEB_FreeFileList(&list);
    return out;
  }

  std::string dir_;
};

TEST_F(Listing, EmptyDirectoryHoldsTheTwoDotEntries) {
  ZEB_FileList *list = ZEB_GetFileList(dir_.c_str(), "");
  ASSERT_EQ(list->len, 2u);
  EXPECT_STREQ(list->files[0].name, ".");
  EXPECT_STREQ(list->files[1].name, "..");
  EXPECT_TRUE(list->files[0].dir);
  EXPECT_TRUE(list->files[1].dir);
  EXPECT_EQ(std::string(list->files[1].path), dir_ + "\\..");
  ZEB_FreeFileList(&list);
}

TEST_F(Listing, DirectoriesFirstThenNamesWithoutRegardToCase) {
  file("b.txt", "12345");
  file("A.txt");
  file("c.txt");
  file("_u.txt");
  subdir("zdir");
  subdir("Adir");
  ZEB_FileList *list = ZEB_GetFileList(dir_.c_str(), nullptr);
  EXPECT_EQ(names(list), Names({".", "..", "Adir", "zdir", "_u.txt", "A.txt", "b.txt", "c.txt"}));
  ASSERT_EQ(list->len, 8u);
  EXPECT_TRUE(list->files[3].dir);
  EXPECT_FALSE(list->files[4].dir);
  EXPECT_EQ(list->files[6].size, 5u);
  EXPECT_EQ(std::string(list->files[6].path), dir_ + "\\b.txt");
  ZEB_FreeFileList(&list);
}

// Names that differ only in case need a case-sensitive directory. Wine creates one on a
// case-sensitive Unix file system when the name is given through its "\\?\unix" prefix.
TEST_F(Listing, CaseTwinsPutLowerCaseFirst) {
  using UnixName = char *(CDECL *)(const wchar_t *);
  auto unix_name = reinterpret_cast<UnixName>(reinterpret_cast<void *>(
      GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
  if (!unix_name) GTEST_SKIP() << "needs Wine to make a case-sensitive directory";
  file("b");
  file("a");
  file("abc");
  subdir("z");
  char *unix_dir = unix_name(wide(dir_).c_str());
  ASSERT_NE(unix_dir, nullptr);
  std::string twin = std::string("\\\\?\\unix") + unix_dir;
  HeapFree(GetProcessHeap(), 0, unix_dir);
  for (char &c : twin) c = c == '/' ? '\\' : c;
  for (const char *name : {"A", "ABC"}) {
    HANDLE h = CreateFileW(wide(twin + "\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << name << ": " << GetLastError();
    CloseHandle(h);
  }
  EXPECT_EQ(list_names(""), Names({".", "..", "z", "a", "A", "abc", "ABC", "b"}));
}

TEST_F(Listing, FilterKeepsMatchingFilesAndEveryDirectory) {
  file("notes.TXT");
  file("readme.txt");
  file("app.dll");
  file("dllhost.exe");
  file("data.bin");
  subdir("data");
  EXPECT_EQ(list_names("txt"), Names({".", "..", "data", "readme.txt"}));
  EXPECT_EQ(list_names("dll|exe"), Names({".", "..", "data", "app.dll", "dllhost.exe"}));
  EXPECT_EQ(list_names("|"), Names({".", "..", "data", "app.dll", "data.bin", "dllhost.exe",
                                    "notes.TXT", "readme.txt"}));
}

TEST_F(Listing, MissingDirectoryGivesAnEmptyList) {
  const std::string missing = dir_ + "\\absent";
  ZEB_FileList *list = ZEB_GetFileList(missing.c_str(), "");
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->len, 0u);
  EXPECT_EQ(list->files, nullptr);
  ZEB_FreeFileList(&list);
  EXPECT_EQ(list, nullptr);
  ZEB_FreeFileList(&list);
  EXPECT_EQ(list, nullptr);
}

TEST_F(Listing, LongDirectoryPathsAreListed) {
  // Well past the length whose search pattern and its UTF-16 form fill the listing's scratch.
  std::string deep = "\\\\?\\" + dir_;
  while (deep.size() < 1500) {
    deep += "\\" + std::string(200, 'd');
    ASSERT_TRUE(CreateDirectoryW(wide(deep).c_str(), nullptr))
        << deep.size() << ": " << GetLastError();
  }
  HANDLE h = CreateFileW(wide(deep + "\\f.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0,
                         nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
  CloseHandle(h);
  ZEB_FileList *list = ZEB_GetFileList(deep.c_str(), "");
  const Names listed = names(list);
  const std::string last = list->len > 0 ? list->files[list->len - 1].path : "";
  ZEB_FreeFileList(&list);
  EXPECT_EQ(listed, Names({".", "..", "f.txt"}));
  EXPECT_EQ(last, deep + "\\f.txt");
}

TEST_F(Listing, CallersScratchTextsSurviveALongListing) {
  // Enough entries that the listing's own texts would wrap the thread's 8192-byte ring.
  constexpr int kFiles = 120;
  for (int i = 0; i < kFiles; ++i) file("entry-with-a-rather-long-name-" + std::to_string(i));
  const char *before = ZEB_SprintfL("made before the listing");
  const char *path = ZEB_StrdupL(dir_.c_str());  // the path itself is a scratch text
  ZEB_FileList *list = ZEB_GetFileList(path, "");
  EXPECT_STREQ(before, "made before the listing");
  EXPECT_EQ(std::string(path), dir_);
  ASSERT_EQ(list->len, uint32_t(kFiles + 2));
  for (uint32_t i = 2; i < list->len; ++i) {
    ASSERT_EQ(std::string(list->files[i].path), dir_ + "\\" + list->files[i].name) << i;
  }
  ZEB_FreeFileList(&list);
  // The thread's own scratch ring carries on where it was.
  const char *after = ZEB_StrdupL("x");
  EXPECT_EQ(after, path + dir_.size() + 1);
}

}  // namespace
