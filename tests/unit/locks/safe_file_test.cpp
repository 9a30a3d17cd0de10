// Changes to files the launcher does not trust, on real files: a second name planted in the
// data directory must not let a delete, a write, a copy or a permission change reach the file
// it names.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "src/launch/skel_recovery.h"
#include "src/trust/grant_access.h"
#include "src/trust/permissions.h"
#include "src/trust/safe_file.h"
#include "tests/unit/log_capture.h"
#include "zeb/file_list.h"

namespace {

// A fresh directory in the temporary directory, removed with what it holds when done.
struct Scratch {
  std::string dir;
  explicit Scratch(const char *tag) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    dir = std::string(temp) + "quarlo-" + tag + "-" + std::to_string(GetCurrentProcessId());
    clear();
    CreateDirectoryA(dir.c_str(), nullptr);
  }
  ~Scratch() { clear(); }
  std::string file(const char *name) const { return dir + "\\" + name; }
  void clear() const {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::string path = dir + "\\" + found.cFileName;
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
          DeleteFileA(path.c_str());
        else if (found.cFileName[0] != '.')
          RemoveDirectoryA(path.c_str());
      } while (FindNextFileA(search, &found));
      FindClose(search);
    }
    RemoveDirectoryA(dir.c_str());
  }
};

void write(const std::string &path, const std::string &text) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
  CloseHandle(file);
}

std::string read(const std::string &path) {
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "(missing)";
  char buffer[256];
  DWORD read = 0;
  ReadFile(file, buffer, sizeof buffer, &read, nullptr);
  CloseHandle(file);
  return std::string(buffer, read);
}

TEST(SafeFile, AFileWithASecondNameIsLeftAlone) {
  const Scratch dir("hardlink");
  const std::string target = dir.file("system.ini"), planted = dir.file("cc0.txt");
  write(target, "precious");
  ASSERT_TRUE(CreateHardLinkA(planted.c_str(), target.c_str(), nullptr));

  LogCapture log;
  EXPECT_FALSE(safe_file_delete(planted.c_str()));
  const std::wstring wide(planted.begin(), planted.end());
  EXPECT_FALSE(util_change_permissions_everyone(wide.c_str(), GRANT_CONFIG));
  EXPECT_TRUE(util_take_ownership(wide.c_str())) << "declines, as for a link";
  void *file = nullptr;
  EXPECT_EQ(safe_file_open(planted.c_str(), SAFE_FILE_WRITE, 0, true, &file), SAFE_FILE_REFUSED);
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(read(target), "precious");
  EXPECT_EQ(read(planted), "precious");
  ASSERT_FALSE(log.messages.empty());
  EXPECT_EQ(log.messages[0], "safe_file_open: 'cc0.txt' has another name: left alone");

  // The same operations on a plain name do their work.
  DeleteFileA(planted.c_str());
  write(planted, "pristine");
  EXPECT_TRUE(safe_file_delete(planted.c_str()));
  EXPECT_EQ(read(planted), "(missing)");
}

TEST(SkelCopy, SettingsAreReplacedOnlyOverACompleteSetOfFilesAndNoTemporaryStays) {
  const Scratch dir("skelcopy");
  const Scratch skel("skelcopy-skel");
  write(skel.file("appdata.json"), "{}");
  write(skel.file("a.dll"), "new library");
  write(skel.file("z.dat"), "new data");
  // The old library is a second name of a file elsewhere: only the name is replaced.
  const Scratch elsewhere("skelcopy-elsewhere");
  write(elsewhere.file("precious.dll"), "old library");
  ASSERT_TRUE(CreateHardLinkA(dir.file("a.dll").c_str(), elsewhere.file("precious.dll").c_str(),
                              nullptr));
  write(dir.file("z.dat"), "old data");
  const char settings[] = "{\"so_name\": \"a.dll\"}";
  ZEB_FileList *list = ZEB_GetFileList(skel.dir.c_str(), "");
  // The sources as recovery holds them: every file but appdata.json, whose checked bytes are
  // written instead.
  std::vector<void *> sources(list->len), targets(list->len);
  const auto hold = [&](const std::string &name) {
    for (uint32_t i = 0; i < list->len; ++i)
      if (list->files[i].name == name)
        sources[i] = CreateFileA(list->files[i].path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
  };
  hold("a.dll");
  SkelCopy checked = {settings, sizeof settings - 1, sources.data(), targets.data(), nullptr};

  const ZEB_FileList empty = {nullptr, 0};
  EXPECT_FALSE(skel_copy_files(&empty, dir.dir.c_str(), &checked));
  {
    LogCapture log;
    // A file that could not be held stops the copy before the settings change.
    EXPECT_FALSE(skel_copy_files(list, dir.dir.c_str(), &checked));
    EXPECT_EQ(read(dir.file("a.dll")), "new library");
    EXPECT_EQ(read(dir.file("z.dat")), "old data");
    EXPECT_EQ(read(dir.file("appdata.json")), "(missing)");
  }
  // A read-only target, as a user may leave one, is replaced all the same.
  SetFileAttributesA(dir.file("z.dat").c_str(), FILE_ATTRIBUTE_READONLY);
  hold("z.dat");
  EXPECT_TRUE(skel_copy_files(list, dir.dir.c_str(), &checked));
  for (void *&source : sources) handle_reset(&source);
  ZEB_FreeFileList(&list);
  EXPECT_EQ(read(dir.file("z.dat")), "new data");
  EXPECT_EQ(read(elsewhere.file("precious.dll")), "old library");
  EXPECT_EQ(read(dir.file("appdata.json")), settings) << "the bytes checked, not skel's file";
  WIN32_FIND_DATAA found;
  EXPECT_EQ(FindFirstFileA(dir.file("quarlo-*.tmp").c_str(), &found), INVALID_HANDLE_VALUE);
}

}  // namespace
