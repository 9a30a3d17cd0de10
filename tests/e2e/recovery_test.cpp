// Recovery from the pristine skel copy: crash loops, missing settings, retries after a failed
// load or entry, and every refusal. Recovery verifies the skel library's signature, so these
// scenarios run the test-key launcher with skel libraries signed by a pinned test key.
#include <gtest/gtest.h>

#include <thread>

#include "scenario.h"
#include "zeb/crypto_hash.h"

namespace {

using scenario::Broken;
using scenario::counter_record;
using scenario::Installation;
using scenario::kHashA;
using scenario::kHashB;
using scenario::read;

const char *kReinstallText =
    "Quarlo is either out of date or corrupt. Please try reinstalling from "
    "https://quarlo.app/download.";
constexpr unsigned long kAccessViolation = 0xC0000005;

// A file of the build tree, by its host path.
std::string built_file(const char *path) { return read(harness::narrow(harness::host_path(path))); }

void expect_refusal(const scenario::Launch &launch, const char *title) {
  EXPECT_EQ(launch.exit_code, 0u);
  ASSERT_EQ(launch.dialogs.size(), 1u);
  EXPECT_EQ(launch.dialogs[0].title, title);
  EXPECT_EQ(launch.dialogs[0].text, kReinstallText);
}

TEST(Recovery, ThreeCrashesInARowRestoreSkelOnTheFourthLaunch) {
  const std::string built = scenario::test_app_hash();
  Broken install({"crash", "crash", "crash", "return=0"}, built);
  harness::write_file(install.data + "\\config.txt", "theme=dark");  // no final newline
  for (int launch = 1; launch <= 3; ++launch) {
    EXPECT_EQ(install.launch().exit_code, kAccessViolation);
    EXPECT_EQ(read(install.data + "\\cc0.txt"), counter_record(built, launch));
  }
  const auto launch = install.launch();
  EXPECT_TRUE(launch.dialogs.empty());
  EXPECT_EQ(launch.exit_code, 9u) << "the restored build ran (its script returns 9)";
  EXPECT_TRUE(install.restored());
  EXPECT_EQ(read(install.data + "\\config.txt"), "theme=dark\napp_block_hash=" + built + "\n");
  for (const char *name : {"cc0.txt", "cc1.txt", "cc2.txt"})
    EXPECT_FALSE(harness::file_exists(install.data + "\\" + name)) << name;
  const auto log = install.log(install.data);
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[3].at("hash"), scenario::sha256_of_file(QUARLO_TEST_APP_SHA256 ".rsa4096"));
}

// Only the build the settings name is blocked, and only when the library is that build: a copy
// altered on disk is replaced without blocking the publisher's build. A build already blocked
// is not blocked twice.
TEST(Recovery, ACrashLoopOfAnotherModeCountsToo) {
  const std::string built = scenario::test_app_hash();
  for (const bool altered : {false, true}) {
    SCOPED_TRACE(altered ? "an altered copy" : "the build itself");
    Broken install({"return=0"}, built);
    if (altered) harness::write_file(install.data + "\\app.dll", built_file(QUARLO_NO_ENTRY_APP));
    harness::write_file(install.data + "\\cc1.txt", counter_record(built, 3));
    const std::string blocked = "a=1\n\napp_block_hash=" + built + "\n";
    harness::write_file(install.data + "\\config.txt", "a=1\n");
    const auto launch = install.launch();  // a normal launch, mode 0
    EXPECT_EQ(launch.exit_code, 9u);
    EXPECT_TRUE(install.restored());
    EXPECT_FALSE(harness::file_exists(install.data + "\\cc1.txt"));
    EXPECT_EQ(read(install.data + "\\config.txt"), altered ? "a=1\n" : blocked);
    if (altered) continue;
    install.install_app(install.data, {"return=0"}, "app.dll", built);
    harness::write_file(install.data + "\\cc0.txt", counter_record(built, 3));
    EXPECT_EQ(install.launch().exit_code, 9u);
    EXPECT_EQ(read(install.data + "\\config.txt"), blocked) << "blocked once";
  }
}

TEST(Recovery, TwoCrashesAreNotALoop) {
  Broken install({"return=5"});
  harness::write_file(install.data + "\\cc2.txt", counter_record(kHashA, 2));
  EXPECT_EQ(install.launch().exit_code, 5u);
  EXPECT_FALSE(install.restored());
  EXPECT_TRUE(harness::file_exists(install.data + "\\cc2.txt")) << "another mode's record stays";
}

TEST(Recovery, MissingSettingsAreRestoredAndTheNextLaunchLoads) {
  for (const bool too_long : {false, true}) {
    SCOPED_TRACE(too_long ? "a hash of 65 characters" : "no appdata.json");
    Broken install;
    if (too_long)  // cut to 64 characters it would name the skel build: no "Skel Crash" for that
      install.write_appdata(install.data, "app.dll", kHashB + "\\n");
    else
      DeleteFileW(harness::widen(install.data + "\\appdata.json").c_str());
    const auto first = install.launch();
    EXPECT_EQ(first.exit_code, 2u);
    EXPECT_TRUE(first.dialogs.empty());
    EXPECT_TRUE(install.log(install.data).empty()) << "nothing is loaded after such a recovery";
    EXPECT_TRUE(install.restored());
    EXPECT_FALSE(harness::file_exists(install.data + "\\config.txt"))
        << "no build was known, so none is blocked";
    EXPECT_EQ(install.launch().exit_code, 9u);
  }
}

TEST(Recovery, AMissingDataDirectoryIsCreatedAndFilled) {
  Installation install;
  install.install_skel(install.program_files() + "\\skel", scenario::signed_app("rsa4096"));
  EXPECT_EQ(install.run("", "", scenario::testkeys_path()).exit_code, 2u);
  EXPECT_TRUE(harness::file_exists(install.user_data() + "\\app.dll"));
  EXPECT_EQ(install.run("", "", scenario::testkeys_path()).exit_code, 9u);
}

// Runs under Wine 8, whose processes get an elevated token, and under Wine 10, whose do not.
TEST(Recovery, SkelInsideTheDataDirectoryComesFirstUnlessAUserControlsItInAPrivilegedLaunch) {
  Broken install;
  DeleteFileW(harness::widen(install.data + "\\appdata.json").c_str());
  install.install_skel(install.data + "\\skel", scenario::signed_app("rsa2048"), kHashB,
                       {"return=12"});
  // The skel inside is owned by the test's own account, not by an administering one.
  const unsigned long expected = harness::token_elevated() ? 9u : 12u;
  EXPECT_EQ(install.launch().exit_code, 2u);
  EXPECT_EQ(read(install.data + "\\test_app_script.txt"),
            "return=" + std::to_string(expected) + "\n");
  EXPECT_EQ(install.launch().exit_code, expected);
}

TEST(Recovery, OnlyTopLevelSkelFilesAreCopiedAndOthersStay) {
  Broken install;
  DeleteFileW(harness::widen(install.data + "\\appdata.json").c_str());
  CreateDirectoryW(harness::widen(install.skel + "\\plugins").c_str(), nullptr);
  harness::write_file(install.skel + "\\plugins\\extra.dll", "x");
  harness::write_file(install.data + "\\user-notes.txt", "keep me");
  harness::write_file(install.data + "\\lock", "");
  harness::write_file(install.data + "\\lock_client", "");
  EXPECT_EQ(install.launch().exit_code, 2u);
  EXPECT_FALSE(harness::file_exists(install.data + "\\plugins"));
  EXPECT_EQ(read(install.data + "\\user-notes.txt"), "keep me");
  EXPECT_FALSE(harness::file_exists(install.data + "\\lock"));
  EXPECT_FALSE(harness::file_exists(install.data + "\\lock_client"));
}

// Anyone who can write the data directory can leave a lock name behind that a plain delete
// refuses: a read-only file, or a second name of some other file. Recovery removes the name
// alone; the file behind the other name keeps its bytes.
TEST(Recovery, AReadOnlyOrHardLinkedLockNameIsRemoved) {
  for (const bool hard_link : {false, true}) {
    SCOPED_TRACE(hard_link ? "a second name of another file" : "read-only");
    Broken install;
    DeleteFileW(harness::widen(install.data + "\\appdata.json").c_str());
    const std::string lock = install.data + "\\lock";
    const std::string other = install.local() + "\\other.txt";
    if (hard_link) {
      harness::write_file(other, "other bytes");
      ASSERT_TRUE(
          CreateHardLinkW(harness::widen(lock).c_str(), harness::widen(other).c_str(), nullptr));
    } else {
      harness::write_file(lock, "");
      ASSERT_TRUE(SetFileAttributesW(harness::widen(lock).c_str(), FILE_ATTRIBUTE_READONLY));
    }
    const auto launch = install.launch();
    EXPECT_EQ(launch.exit_code, 2u);
    EXPECT_TRUE(launch.dialogs.empty());
    EXPECT_TRUE(install.restored());
    EXPECT_FALSE(harness::file_exists(lock));
    EXPECT_EQ(read(other), hard_link ? "other bytes" : "(missing)");
    SetFileAttributesW(harness::widen(lock).c_str(), FILE_ATTRIBUTE_NORMAL);  // should one stay
  }
}

// A library that cannot be hashed, loaded or entered is replaced once, and blocks nothing: it
// is not the build the settings name.
TEST(Recovery, AFailedHashLoadOrEntryRecoversOnceAndTriesAgain) {
  for (const std::string &library :
       {std::string("not a library"), built_file(QUARLO_NO_ENTRY_APP), std::string()}) {
    SCOPED_TRACE(library.size());
    Broken install;
    harness::write_file(install.data + "\\app.dll", library);
    EXPECT_EQ(install.launch().exit_code, 9u);
    EXPECT_EQ(install.log(install.data).size(), 1u) << "exactly one recovery";
    EXPECT_FALSE(harness::file_exists(install.data + "\\config.txt"));
  }
}

// A file another program holds for a moment is busy, not broken: the launch waits for it and
// runs the healthy build. Held for longer, the launch ends with a box and changes nothing.
TEST(Recovery, ABusyLibraryOrSettingsFileIsWaitedForNotReplaced) {
  struct Case {
    const char *file;
    DWORD access, share, hold_ms;
  };
  for (const Case &c : {Case{"app.dll", GENERIC_READ, 0, 1000},
                        Case{"app.dll", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, 1000},
                        Case{"appdata.json", GENERIC_READ, 0, 1000},
                        Case{"app.dll", GENERIC_WRITE, FILE_SHARE_READ, 4000}}) {
    SCOPED_TRACE(std::string(c.file) + " held for " + std::to_string(c.hold_ms) + " ms");
    Broken install({"return=5"}, scenario::test_app_hash());
    HANDLE holder = CreateFileW(harness::widen(install.data + "\\" + c.file).c_str(), c.access,
                                c.share, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    std::thread release([&] {
      Sleep(c.hold_ms);
      CloseHandle(holder);
    });
    const auto launch = install.launch();
    release.join();
    if (c.hold_ms < 2000) {
      EXPECT_EQ(launch.exit_code, 5u) << "the healthy build ran";
      EXPECT_TRUE(launch.dialogs.empty());
    } else {
      expect_refusal(launch, "File System Error - Lock");
      EXPECT_TRUE(install.log(install.data).empty());
      EXPECT_EQ(install.launch().exit_code, 5u) << "the next launch runs it";
    }
    EXPECT_FALSE(install.restored());
    EXPECT_FALSE(harness::file_exists(install.data + "\\config.txt")) << "nothing blocked";
  }
}

// A running launch of another mode holds the library: a crash loop found beside it changes
// nothing, and once that launch ends, the recovery blocks the build once.
TEST(Recovery, ACrashLoopBesideARunningLaunchWaitsForIt) {
  const std::string built = scenario::test_app_hash();
  Broken install({"sleep=6000 return=0"}, built);
  harness::write_file(install.data + "\\lock", "");
  auto service = install.start("SERVICE_LAUNCHED", "", scenario::testkeys_path());
  ASSERT_TRUE(install.wait_for_calls(install.data, 1));
  harness::write_file(install.data + "\\cc0.txt", counter_record(built, 3));
  const auto before = scenario::snapshot(install.data, true);
  expect_refusal(install.launch(), "File System Error - Skel Copy");
  EXPECT_EQ(scenario::snapshot(install.data, true), before) << "nothing changed";
  EXPECT_EQ(service->wait(), 0u);
  EXPECT_EQ(install.launch().exit_code, 9u);
  EXPECT_EQ(read(install.data + "\\config.txt"), "\napp_block_hash=" + built + "\n");
}

TEST(Recovery, ABuildThatDiesWhileLoadingIsReplacedOnTheFourthLaunch) {
  char built[65] = {};
  ZEB_CryptoHashFile(ZEB_ALGORITHM_SHA256_HEX,
                     harness::narrow(harness::host_path(QUARLO_DYING_APP)).c_str(), nullptr, 0,
                     built, sizeof built);
  Broken install({"return=0"}, built);
  CopyFileW(harness::host_path(QUARLO_DYING_APP).c_str(),
            harness::widen(install.data + "\\app.dll").c_str(), FALSE);
  for (int launch = 1; launch <= 3; ++launch)
    EXPECT_EQ(install.launch().exit_code, 0xD1Eu) << "launch " << launch;
  EXPECT_EQ(read(install.data + "\\cc0.txt"), counter_record(built, 3));
  EXPECT_EQ(install.launch().exit_code, 9u);
  EXPECT_EQ(read(install.data + "\\config.txt"), "\napp_block_hash=" + std::string(built) + "\n");
}

TEST(Recovery, ADamagedCopyOfSkelsOwnBuildIsCopiedAgain) {
  Broken install;
  // The settings already name skel's build, but its library was cut short.
  install.install_app(install.data, {"return=0"}, "app.dll", kHashB,
                      scenario::signed_app("rsa4096"));
  std::string library = read(install.data + "\\app.dll");
  harness::write_file(install.data + "\\app.dll", library.substr(0, library.size() / 2));
  const auto launch = install.launch();
  EXPECT_TRUE(launch.dialogs.empty());
  EXPECT_EQ(launch.exit_code, 9u);
  EXPECT_FALSE(harness::file_exists(install.data + "\\config.txt"))
      << "the good build is not blocked";
}

TEST(Recovery, SkelSettingsRewrittenAfterTheyWereCheckedAreNotWhatIsCopied) {
  Broken install;
  install.install_skel(install.skel, scenario::large_signed_app());
  const std::string checked = read(install.skel + "\\appdata.json");
  harness::write_file(install.data + "\\cc0.txt", counter_record(kHashA, 3));
  harness::write_file(install.data + "\\lock", "");
  auto launcher = install.start("", "", scenario::testkeys_path());
  // "lock" goes once the skel library was verified, before any file is copied.
  while (harness::file_exists(install.data + "\\lock") && !launcher->exited()) Sleep(1);
  install.write_appdata(install.skel, "evil.dll", kHashA);
  // Recovery's own lock leaves room for a rename into the data directory, as Windows opens it.
  HANDLE adding = CreateFileW(harness::widen(install.data).c_str(), FILE_WRITE_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  EXPECT_NE(adding, INVALID_HANDLE_VALUE) << GetLastError();
  if (adding != INVALID_HANDLE_VALUE) CloseHandle(adding);
  EXPECT_EQ(launcher->wait(), 9u);
  EXPECT_EQ(read(install.data + "\\appdata.json"), checked);
}

TEST(Recovery, RefusedWhenSkelIsMissingOrBroken) {
  for (const char *skel_settings :
       {(const char *)nullptr, "{\"so_name\": \"app.dll\"}", "not json"}) {
    SCOPED_TRACE(skel_settings ? skel_settings : "(no skel)");
    Broken install;
    if (skel_settings)
      harness::write_file(install.skel + "\\appdata.json", skel_settings);
    else
      harness::remove_tree(install.skel);
    DeleteFileW(harness::widen(install.data + "\\appdata.json").c_str());
    expect_refusal(install.launch(), "File System Error - Skel Missing or Broken");
    EXPECT_FALSE(harness::file_exists(install.data + "\\appdata.json"));
  }
}

TEST(Recovery, RefusedWhenSkelIsTheCrashingBuild) {
  Broken install;
  install.write_appdata(install.skel, "app.dll", kHashA);
  harness::write_file(install.data + "\\cc0.txt", counter_record(kHashA, 3));
  const std::string before = read(install.data + "\\app.dll");
  expect_refusal(install.launch(), "File System Error - Skel Crash");
  EXPECT_EQ(read(install.data + "\\app.dll"), before) << "nothing copied";
  EXPECT_FALSE(harness::file_exists(install.data + "\\config.txt"));
}

TEST(Recovery, RefusedWhenTheSkelLibraryIsNotSignedByAPinnedKey) {
  for (const std::string &library : {scenario::test_app_path(), scenario::signed_app("unpinned")}) {
    Broken install;
    install.install_skel(install.skel, library);
    DeleteFileW(harness::widen(install.data + "\\appdata.json").c_str());
    expect_refusal(install.launch(), "File System Error - Skel Signature");
    EXPECT_FALSE(harness::file_exists(install.data + "\\appdata.json"));
  }
}

TEST(Recovery, RefusedWhileTheApplicationHoldsItsLockFile) {
  Broken install;
  DeleteFileW(harness::widen(install.data + "\\appdata.json").c_str());
  harness::write_file(install.data + "\\lock", "");
  // Held open the way a running application would: no delete sharing.
  HANDLE held = CreateFileW(harness::widen(install.data + "\\lock").c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  expect_refusal(install.launch(), "File System Error - Lockfile");
  CloseHandle(held);
  EXPECT_FALSE(harness::file_exists(install.data + "\\appdata.json")) << "nothing copied";
}

}  // namespace
