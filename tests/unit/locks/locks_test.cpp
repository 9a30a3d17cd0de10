// The locks against another process: lock_probe.exe (beside this executable) tries the changes
// the locks must prevent and reports the Win32 error of each.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "src/trust/lock.h"

namespace {

std::wstring widen(const std::string &text) { return std::wstring(text.begin(), text.end()); }

std::string my_dir() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string full(path, length);
  return full.substr(0, full.find_last_of("\\/") + 1);
}

// Runs the probe with `args` and returns the error code it printed for each operation.
std::vector<DWORD> probe(const std::vector<std::string> &args) {
  std::wstring command = L"\"" + widen(my_dir()) + L"lock_probe.exe\"";
  for (const std::string &arg : args) command += L" \"" + widen(arg) + L"\"";
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return {};
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write_end;
  startup.hStdError = write_end;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process = {};
  BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                nullptr, &startup, &process);
  CloseHandle(write_end);
  std::string output;
  if (started) {
    char chunk[256];
    DWORD got = 0;
    while (ReadFile(read_end, chunk, sizeof(chunk), &got, nullptr) && got > 0) {
      output.append(chunk, got);
    }
    WaitForSingleObject(process.hProcess, 30000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  CloseHandle(read_end);
  std::vector<DWORD> codes;
  for (size_t at = 0; at < output.size();) {
    size_t end = output.find('\n', at);
    if (end == std::string::npos) end = output.size();
    codes.push_back(static_cast<DWORD>(strtoul(output.substr(at, end - at).c_str(), nullptr, 10)));
    at = end + 1;
  }
  return codes;
}

struct FileId {
  DWORD volume = 0, high = 0, low = 0;
  bool operator==(const FileId &) const = default;
};

FileId id_of_handle(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return {};
  return {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

FileId id_of(const std::string &path) {
  HANDLE handle = CreateFileW(widen(path).c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {};
  FileId id = id_of_handle(handle);
  CloseHandle(handle);
  return id;
}

void write_file(const std::string &path, const char *text) {
  HANDLE file = CreateFileW(widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD done = 0;
  WriteFile(file, text, static_cast<DWORD>(strlen(text)), &done, nullptr);
  CloseHandle(file);
}

std::string read_file(const std::string &path) {
  HANDLE file = CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<unreadable>";
  char buffer[256];
  DWORD done = 0;
  ReadFile(file, buffer, sizeof(buffer), &done, nullptr);
  CloseHandle(file);
  return std::string(buffer, done);
}

// A private tree under C:\ for each test: root\A\B\C plus whatever the test adds.
class Locks : public testing::Test {
 protected:
  void SetUp() override {
    root_ = "C:\\qlk" + std::to_string(GetCurrentProcessId()) + "_" +
            testing::UnitTest::GetInstance()->current_test_info()->name();
    remove_tree(root_);  // left behind by an interrupted run
    for (const char *dir : {"", "\\A", "\\A\\B", "\\A\\B\\C"}) {
      ASSERT_TRUE(CreateDirectoryW(widen(root_ + dir).c_str(), nullptr)) << root_ + dir;
    }
  }
  void TearDown() override { remove_tree(root_); }

  static void remove_tree(const std::string &dir) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(widen(dir + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        std::string child = dir + "\\" + std::string(name.begin(), name.end());
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          remove_tree(child);
        } else {
          DeleteFileW(widen(child).c_str());
        }
      } while (FindNextFileW(find, &entry));
      FindClose(find);
    }
    RemoveDirectoryW(widen(dir).c_str());
  }

  std::string path(const char *relative) const { return root_ + "\\" + relative; }

  std::string root_;
};

TEST_F(Locks, HeldDirectoryCannotBeRenamedOrDeleted) {
  const std::string dir = path("A\\B\\C");
  void *handle = nullptr;
  ASSERT_TRUE(lock_path(dir.c_str(), true, false, &handle));
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(probe({"rename", dir, path("A\\B\\moved"), "rmdir", dir}),
            (std::vector<DWORD>{ERROR_SHARING_VIOLATION, ERROR_SHARING_VIOLATION}));
  handle_reset(&handle);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(probe({"rename", dir, path("A\\B\\moved")}), (std::vector<DWORD>{0}))
      << "released: the change goes through";
}

TEST_F(Locks, HeldFileCannotBeChangedButCanBeRead) {
  const std::string file = path("A\\lib.dll"), other = path("A\\other.dll");
  write_file(file, "original");
  write_file(other, "replacement");
  void *handle = nullptr;
  ASSERT_TRUE(lock_path(file.c_str(), false, false, &handle));
  std::vector<DWORD> codes =
      probe({"write", file, "delete", file, "copy", other, file, "read", file});
  ASSERT_EQ(codes.size(), 4u);
  EXPECT_EQ(codes[0], DWORD(ERROR_SHARING_VIOLATION)) << "write";
  EXPECT_EQ(codes[1], DWORD(ERROR_SHARING_VIOLATION)) << "delete";
  EXPECT_NE(codes[2], 0u) << "copy over";
  EXPECT_EQ(codes[3], 0u) << "read";
  EXPECT_EQ(read_file(file), "original");
  handle_reset(&handle);

  // With write sharing the file may be written, still not deleted.
  ASSERT_TRUE(lock_path(file.c_str(), false, true, &handle));
  EXPECT_EQ(probe({"write", file, "delete", file}),
            (std::vector<DWORD>{0, ERROR_SHARING_VIOLATION}));
  handle_reset(&handle);
  EXPECT_EQ(probe({"copy", other, file}), (std::vector<DWORD>{0}));
  EXPECT_EQ(read_file(file), "replacement");
}

TEST_F(Locks, WriterElsewhereRefusesALockWithoutWriteSharing) {
  const std::string file = path("A\\lib.dll");
  write_file(file, "x");
  HANDLE writer = CreateFileW(widen(file).c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  void *handle = reinterpret_cast<void *>(1);
  EXPECT_FALSE(lock_path(file.c_str(), false, false, &handle));
  EXPECT_EQ(handle, nullptr);
  EXPECT_TRUE(lock_path(file.c_str(), false, true, &handle));
  handle_reset(&handle);
  CloseHandle(writer);
}

TEST_F(Locks, AncestorsAreHeldUpToButNotIncludingTheDrive) {
  void **array = nullptr;
  uint32_t count = 0;
  ASSERT_TRUE(lock_path_recursive((path("A\\B\\C") + "\\").c_str(), &array, &count));
  ASSERT_NE(array, nullptr);
  // C:\qlk...\A\B\C has four separators: C, B, A and the tree's root; never C:\ itself.
  ASSERT_EQ(count, 4u);
  const std::vector<std::string> expected = {path("A\\B\\C"), path("A\\B"), path("A"), root_};
  for (uint32_t i = 0; i < count; ++i) {
    EXPECT_EQ(id_of_handle(array[i]), id_of(expected[i])) << "slot " << i;
    EXPECT_FALSE(id_of_handle(array[i]) == id_of("C:\\")) << "slot " << i;
  }
  EXPECT_EQ(probe({"rename", path("A\\B"), path("A\\moved"), "rename", path("A"), path("moved")}),
            (std::vector<DWORD>{ERROR_SHARING_VIOLATION, ERROR_SHARING_VIOLATION}));
  lock_release_array(&array, &count);
  EXPECT_EQ(array, nullptr);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(probe({"rename", path("A\\B"), path("A\\moved")}), (std::vector<DWORD>{0}));
}

TEST_F(Locks, TrailingSeparatorsLockTheSameDirectory) {
  const FileId target = id_of(path("A\\B"));
  ASSERT_NE(target, FileId{});
  for (const std::string suffix : {"", "\\", "/"}) {
    void *handle = nullptr;
    ASSERT_TRUE(lock_path((path("A\\B") + suffix).c_str(), true, false, &handle)) << suffix;
    EXPECT_EQ(id_of_handle(handle), target) << suffix;
    handle_reset(&handle);
  }
  for (const std::string suffix : {"\\", "\\\\\\", "/\\/"}) {
    void **array = nullptr;
    uint32_t count = 0;
    ASSERT_TRUE(lock_path_recursive((path("A\\B") + suffix).c_str(), &array, &count)) << suffix;
    ASSERT_EQ(count, 3u) << suffix;
    EXPECT_EQ(id_of_handle(array[0]), target) << suffix;
    EXPECT_EQ(id_of_handle(array[1]), id_of(path("A"))) << suffix;
    lock_release_array(&array, &count);
  }
}

TEST_F(Locks, VolumeRootLocksTheRootNotTheCurrentDirectory) {
  // "C:" alone names the current directory of drive C; the root must be locked as "C:\".
  wchar_t saved[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, saved);
  ASSERT_TRUE(SetCurrentDirectoryW(widen(path("A")).c_str()));
  const FileId root = id_of("C:\\");
  ASSERT_NE(root, FileId{});
  ASSERT_NE(root, id_of(path("A")));

  void *handle = nullptr;
  bool locked = lock_path("C:\\", true, false, &handle);
  void **array = nullptr;
  uint32_t count = 0;
  bool recursive = lock_path_recursive("C:\\\\", &array, &count);
  SetCurrentDirectoryW(saved);

  ASSERT_TRUE(locked);
  EXPECT_EQ(id_of_handle(handle), root);
  handle_reset(&handle);
  ASSERT_TRUE(recursive) << "a data directory at a volume root is still guarded";
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(id_of_handle(array[0]), root);
  lock_release_array(&array, &count);
}

TEST_F(Locks, NetworkPathPassesWithoutLocks) {
  void **array = reinterpret_cast<void **>(1);
  uint32_t count = 7;
  EXPECT_TRUE(lock_path_recursive("\\\\fileserver\\share\\Quarlo\\", &array, &count));
  EXPECT_EQ(array, nullptr);
  EXPECT_EQ(count, 0u);
}

TEST_F(Locks, MissingOrWrongKindFailsWithNothingHeld) {
  void *handle = reinterpret_cast<void *>(1);
  EXPECT_FALSE(lock_path(path("A\\missing").c_str(), true, false, &handle));
  EXPECT_EQ(handle, nullptr);
  EXPECT_FALSE(lock_path(path("A").c_str(), false, false, &handle)) << "a directory as a file";
  EXPECT_EQ(handle, nullptr);
  void **array = reinterpret_cast<void **>(1);
  uint32_t count = 7;
  EXPECT_FALSE(lock_path_recursive(path("A\\missing\\").c_str(), &array, &count));
  EXPECT_EQ(array, nullptr);
  EXPECT_EQ(count, 0u);
}

TEST_F(Locks, FailedAncestorReleasesEverythingAlreadyHeld) {
  // Another open holding delete access to A makes the lock of A fail after C and B were taken.
  HANDLE blocker = CreateFileW(widen(path("A")).c_str(), DELETE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(blocker, INVALID_HANDLE_VALUE);
  void **array = nullptr;
  uint32_t count = 0;
  EXPECT_FALSE(lock_path_recursive(path("A\\B\\C").c_str(), &array, &count));
  EXPECT_EQ(array, nullptr);
  EXPECT_EQ(count, 0u);
  CloseHandle(blocker);
  EXPECT_EQ(
      probe({"rename", path("A\\B\\C"), path("A\\B\\c2"), "rename", path("A\\B"), path("A\\b2")}),
      (std::vector<DWORD>{0, 0}))
      << "no handle of C or B stayed open";
}

}  // namespace
