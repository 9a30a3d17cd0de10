// The guards that need no signatures: the local-layout shortcut, library name checks, the
// locks held while the library runs, crash-counter records per launch mode, and IPC launches
// that would need a recovery.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "scenario.h"

namespace {

using scenario::counter_record;
using scenario::Installation;
using scenario::kHashA;
using scenario::read;

const char *kReinstallText =
    "Quarlo is either out of date or corrupt. Please try reinstalling from "
    "https://quarlo.app/download.";

TEST(LaunchGuards, LocalLayoutWithoutSkelLoadsWithoutCounterCheck) {
  Installation install;
  install.install_app(install.local(), {"return=4"});
  // A crash loop recorded here would force a recovery anywhere else.
  harness::write_file(install.local() + "\\cc0.txt", counter_record(kHashA, 5));
  const auto launch = install.run();
  EXPECT_EQ(launch.exit_code, 4u);
  EXPECT_TRUE(launch.dialogs.empty());
  EXPECT_EQ(install.log(install.local()).size(), 1u);
  EXPECT_FALSE(harness::file_exists(install.local() + "\\cc0.txt"))
      << "the record of the launch is deleted when wx_main returns";
}

TEST(LaunchGuards, AnIpcLaunchFromASharedDataDirectoryTakesNoShortcut) {
  Installation install;
  const std::string dir = install.user_data();
  install.install_app(dir, {"return=3"});
  harness::write_file(dir + "\\cc0.txt", counter_record(kHashA, 3));
  EXPECT_EQ(install.run("QUARLO_IPC_x", dir).exit_code, 7002u)
      << "started in the per-user data directory, the counters are checked";
  std::string lower = dir;
  for (char &c : lower) c = char(tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(install.run("QUARLO_IPC_x", lower).exit_code, 7002u)
      << "the same directory named in other letter case";
  EXPECT_EQ(install.run("", dir).exit_code, 3u) << "a normal launch from there loads at once";
}

TEST(LaunchGuards, LibraryNamesMustBePlainDllNames) {
  {
    Installation install;
    install.install_app(install.local(), {"return=6"}, "App.DLL");
    EXPECT_EQ(install.run().exit_code, 6u) << "the extension compares without case";
  }
  for (const char *name : {"app.dll.txt", "appdll", "sub\\\\app.dll", "sub/app.dll"}) {
    SCOPED_TRACE(name);
    Installation install;
    install.install_app(install.local(), {"return=6"});
    install.write_appdata(install.local(), name, kHashA);
    const auto launch = install.run();
    EXPECT_EQ(launch.exit_code, 0u);
    ASSERT_EQ(launch.dialogs.size(), 1u);
    EXPECT_EQ(launch.dialogs[0].title, "File System Error - Lock");
    EXPECT_EQ(launch.dialogs[0].text, kReinstallText);
    EXPECT_TRUE(install.log(install.local()).empty());
  }
}

TEST(LaunchGuards, NothingCanBeSwappedWhileTheLibraryRuns) {
  Installation install;
  const std::string dir = install.local() + "\\data";
  // A rename into the data directory (an application's atomic save) is still possible: Windows
  // opens the directory for adding a file first, which Wine shows only when asked explicitly.
  install.install_app(dir, {"sleep=4000 renameinto return=0"});
  auto launcher = install.start("", dir);
  ASSERT_TRUE(install.wait_for_calls(dir, 1));

  const std::wstring wide_dir = harness::widen(dir);
  const std::wstring library = wide_dir + L"\\app.dll";
  EXPECT_FALSE(MoveFileW(wide_dir.c_str(), (wide_dir + L"-moved").c_str()));
  EXPECT_FALSE(DeleteFileW(library.c_str()));
  EXPECT_FALSE(
      CopyFileW(harness::widen(scenario::test_app_path()).c_str(), library.c_str(), FALSE));
  HANDLE writer = CreateFileW(library.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  std::string content;
  EXPECT_TRUE(harness::read_file(dir + "\\app.dll", &content)) << "reading is still allowed";

  EXPECT_EQ(launcher->wait(), 0u);
  EXPECT_EQ(read(dir + "\\test_app_probe.txt"), "renameinto=0\n");
  EXPECT_TRUE(MoveFileW(wide_dir.c_str(), (wide_dir + L"-moved").c_str()))
      << "everything is released when the launcher ends";
}

TEST(LaunchGuards, TheParentOfTheDataDirectoryCannotBeRenamedWhileTheLibraryRuns) {
  if (harness::running_under_wine())
    GTEST_SKIP() << "Wine renames a directory even while a directory below it is held open";
  Installation install;
  const std::string dir = install.local() + "\\data";
  install.install_app(dir, {"sleep=3000 return=0"});
  auto launcher = install.start("", dir);
  ASSERT_TRUE(install.wait_for_calls(dir, 1));
  EXPECT_FALSE(MoveFileW(harness::widen(install.local()).c_str(),
                         harness::widen(install.local() + "-moved").c_str()));
  EXPECT_EQ(launcher->wait(), 0u);
}

TEST(LaunchGuards, EachLaunchModeKeepsItsOwnRecord) {
  Installation install;
  const std::string dir = install.user_data();
  install.install_app(dir, {"sleep=3000 return=0"});
  auto normal = install.start();
  auto service = install.start("SERVICE_LAUNCHED");
  ASSERT_TRUE(install.wait_for_calls(dir, 2));
  std::string cc0, cc1;
  EXPECT_TRUE(harness::read_file(dir + "\\cc0.txt", &cc0));
  EXPECT_TRUE(harness::read_file(dir + "\\cc1.txt", &cc1));
  EXPECT_EQ(cc0, counter_record(kHashA, 1));
  EXPECT_EQ(cc1, counter_record(kHashA, 1));
  EXPECT_FALSE(harness::file_exists(dir + "\\cc2.txt"));
  EXPECT_EQ(normal->wait(), 0u);
  EXPECT_EQ(service->wait(), 0u);
  EXPECT_FALSE(harness::file_exists(dir + "\\cc0.txt"));
  EXPECT_FALSE(harness::file_exists(dir + "\\cc1.txt"));
}

TEST(LaunchGuards, CounterRecordsOfTheRunningLaunchAreRaisedByOne) {
  Installation install;
  const std::string dir = install.user_data();
  install.install_app(dir, {"sleep=2000 return=0"});
  harness::write_file(dir + "\\cc2.txt", counter_record(kHashA, 2));
  auto ipc = install.start("--channel=QUARLO_IPC_7");
  ASSERT_TRUE(install.wait_for_calls(dir, 1));
  std::string cc2;
  EXPECT_TRUE(harness::read_file(dir + "\\cc2.txt", &cc2));
  EXPECT_EQ(cc2, counter_record(kHashA, 3));
  EXPECT_EQ(ipc->wait(), 0u);
}

// Launches of one mode that overlap: only a record whose launch has ended counts or goes.
TEST(LaunchGuards, RecordsOfRunningLaunchesNeitherCountNorGo) {
  Installation install;
  const std::string dir = install.user_data();
  install.install_app(
      dir, {"sleep=4000 return=0", "sleep=4000 return=0", "sleep=4000 return=0", "return=5"});
  std::vector<std::unique_ptr<harness::RunningProcess>> running;
  for (int i = 0; i < 3; ++i) {
    running.push_back(install.start());
    ASSERT_TRUE(install.wait_for_calls(dir, size_t(i) + 1));
  }
  const auto fourth = install.run();
  EXPECT_EQ(fourth.exit_code, 5u) << "three running launches are no crash loop";
  EXPECT_TRUE(fourth.dialogs.empty());
  EXPECT_EQ(read(dir + "\\cc0.txt"), counter_record(kHashA, 1))
      << "the first launch's record outlives the quick one";
  for (auto &launch : running) EXPECT_EQ(launch->wait(), 0u);
  EXPECT_FALSE(harness::file_exists(dir + "\\cc0.txt"));
}

TEST(LaunchGuards, RecordsOfAnotherBuildAreDeletedAndNotCounted) {
  Installation install;
  const std::string dir = install.user_data();
  install.install_app(dir, {"return=8"});
  harness::write_file(dir + "\\cc1.txt", counter_record(scenario::kHashB, 5));
  harness::write_file(dir + "\\cc2.txt", "not a record");
  const auto launch = install.run();
  EXPECT_EQ(launch.exit_code, 8u);
  EXPECT_TRUE(launch.dialogs.empty());
  EXPECT_FALSE(harness::file_exists(dir + "\\cc1.txt"));
  EXPECT_FALSE(harness::file_exists(dir + "\\cc2.txt"));
}

TEST(LaunchGuards, AnIpcLaunchNeverRecovers) {
  Installation install;
  const std::string dir = install.user_data();
  install.install_app(dir, {"return=0"});
  DeleteFileW(harness::widen(dir + "\\appdata.json").c_str());
  const auto launch = install.run("QUARLO_IPC_channel");
  EXPECT_EQ(launch.exit_code, 7002u);
  EXPECT_TRUE(launch.dialogs.empty());
  EXPECT_TRUE(install.log(dir).empty());
  EXPECT_FALSE(harness::file_exists(dir + "\\appdata.json")) << "no file changed";

  // The same with a crash loop on record.
  install.write_appdata(dir, "app.dll", kHashA);
  harness::write_file(dir + "\\cc0.txt", counter_record(kHashA, 3));
  EXPECT_EQ(install.run("QUARLO_IPC_channel").exit_code, 7002u);
  EXPECT_TRUE(harness::file_exists(dir + "\\cc0.txt"));
}

}  // namespace
