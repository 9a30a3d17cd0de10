// Signature checks at launch: a signed launcher accepts only libraries signed by a pinned key,
// recovers once from a refused library, and gives up with "Signature Failure" the second time.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "scenario.h"
#include "tests/ecdsa_support.h"

namespace {

using scenario::Installation;
using scenario::kHashA;
using scenario::read;

// The signed launcher refused the library once, restored the signed skel build and ran it. It
// blocked the build the settings name only when the library refused was that build.
void expect_restored_from_skel(const Installation &install, const std::string &data,
                               const std::string &blocked = "") {
  const auto launch = install.run("", "", scenario::signed_launcher());
  EXPECT_EQ(launch.exit_code, 9u) << "the restored, signed build ran";
  EXPECT_TRUE(launch.dialogs.empty());
  EXPECT_EQ(install.log(data).size(), 1u);
  EXPECT_EQ(read(data + "\\config.txt"),
            blocked.empty() ? "(missing)" : "\napp_block_hash=" + blocked + "\n");
}

TEST(SignedLaunch, AnUnsignedLauncherLoadsAnUnsignedLibrary) {
  Installation install;
  install.install_app(install.user_data(), {"return=21"});
  EXPECT_EQ(install.run("", "", scenario::testkeys_path()).exit_code, 21u);
}

TEST(SignedLaunch, ASignedLauncherLoadsLibrariesSignedByPinnedKeys) {
  for (const char *key : {"rsa4096", "rsa2048"}) {
    SCOPED_TRACE(key);
    Installation install;
    install.install_app(install.user_data(), {"return=22"}, "app.dll", kHashA,
                        scenario::signed_app(key));
    const auto launch = install.run("", "", scenario::signed_launcher());
    EXPECT_EQ(launch.exit_code, 22u);
    EXPECT_TRUE(launch.dialogs.empty());
  }
}

TEST(SignedLaunch, ARefusedLibraryIsReplacedFromSkelOnce) {
  struct Case {
    const char *what;
    std::string library;
    bool tamper;
    std::string hash;  // the settings'
  };
  const Case cases[] = {{"unsigned", scenario::test_app_path(), false, kHashA},
                        {"unpinned key", scenario::signed_app("unpinned"), false, kHashA},
                        {"changed after signing", scenario::signed_app("rsa4096"), true, kHashA},
                        {"unsigned, the build the settings name", scenario::test_app_path(), false,
                         scenario::test_app_hash()}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Installation install;
    const std::string data = install.user_data();
    install.install_app(data, {"return=0"}, "app.dll", c.hash, c.library);
    if (c.tamper) {
      ASSERT_TRUE(scenario::flip_byte(data + "\\app.dll", 0x600));
    }
    install.install_skel(install.program_files() + "\\skel", scenario::signed_app("rsa4096"));
    expect_restored_from_skel(install, data, c.hash == kHashA ? "" : c.hash);
  }
}

TEST(SignedLaunch, ASecondRefusalShowsOneBoxAndTheRefusedLibraryNeverRuns) {
  {
    SCOPED_TRACE("a local installation without skel has nothing to recover from");
    Installation install;
    install.install_app(install.local(), {"return=0"});
    const auto launch = install.run("", install.local(), scenario::signed_launcher());
    EXPECT_EQ(launch.exit_code, 0u);
    ASSERT_EQ(launch.dialogs.size(), 1u);
    EXPECT_EQ(launch.dialogs[0].title, "Signature Failure");
    EXPECT_EQ(launch.dialogs[0].text,
              "Quarlo is either out of date or corrupt. Please try reinstalling from "
              "https://quarlo.app/download.");
    EXPECT_TRUE(install.log(install.local()).empty());
  }
  {
    SCOPED_TRACE("a recovery that cannot replace the library refuses instead of copying less");
    Installation install;
    const std::string data = install.user_data();
    install.install_app(data, {"return=0"});
    install.install_skel(install.program_files() + "\\skel", scenario::signed_app("rsa4096"));
    HANDLE held = CreateFileW(harness::widen(data + "\\app.dll").c_str(), GENERIC_READ,
                              FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const auto launch = install.run("", "", scenario::signed_launcher());
    CloseHandle(held);
    EXPECT_EQ(launch.exit_code, 0u);
    ASSERT_EQ(launch.dialogs.size(), 1u);
    EXPECT_EQ(launch.dialogs[0].title, "File System Error - Skel Copy");
    EXPECT_TRUE(install.log(data).empty());
    EXPECT_EQ(install.run("", "", scenario::signed_launcher()).exit_code, 9u)
        << "once the holder is gone the next launch recovers";
  }
}

// Another process may open the running launcher's file without sharing, so that reading it
// fails. The library check must stay on. The library is made large (zeros past its image) so that
// the launcher is still hashing it when the hold begins.
TEST(SignedLaunch, AnUnsignedLibraryIsRefusedWhileTheLauncherFileIsHeld) {
  Installation install;
  const std::string data = install.user_data();
  install.install_app(data, {"return=21"});
  {
    HANDLE library = CreateFileW(harness::widen(data + "\\app.dll").c_str(), GENERIC_WRITE, 0,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(library, INVALID_HANDLE_VALUE);
    LARGE_INTEGER end = {};
    end.QuadPart = 64 << 20;
    const bool grown = SetFilePointerEx(library, end, nullptr, FILE_BEGIN) && SetEndOfFile(library);
    CloseHandle(library);
    ASSERT_TRUE(grown);
  }
  install.install_skel(install.program_files() + "\\skel", scenario::signed_app("rsa4096"));

  const std::wstring launcher = scenario::signed_launcher();
  std::atomic<bool> done{false}, held{false};
  auto launch = install.start("", "", launcher);
  std::thread holder([&] {
    // Opened as soon as the started process lets it, and kept until the launch ends.
    HANDLE file = INVALID_HANDLE_VALUE;
    while (!done && file == INVALID_HANDLE_VALUE)
      file = CreateFileW(launcher.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    held = file != INVALID_HANDLE_VALUE;
    while (!done) Sleep(1);
    if (held) CloseHandle(file);
  });
  const DWORD exit_code = launch->wait();
  done = true;
  holder.join();
  ASSERT_TRUE(held);
  EXPECT_EQ(exit_code, 9u) << "the unsigned library was refused and the signed skel build ran";
  EXPECT_EQ(install.log(data).size(), 1u);
}

TEST(SignedLaunch, RecoveryRefusesAnUnsignedSkelLibraryWhateverTheLauncher) {
  Installation install;
  const std::string data = install.user_data();
  install.install_app(data, {"return=0"});
  install.install_skel(install.program_files() + "\\skel", scenario::test_app_path());
  const auto launch = install.run("", "", scenario::signed_launcher());
  EXPECT_EQ(launch.exit_code, 0u);
  ASSERT_EQ(launch.dialogs.size(), 1u);
  EXPECT_EQ(launch.dialogs[0].title, "File System Error - Skel Signature");
}

// The P-384 key form end to end: the signed launcher takes only the pinned P-384 key and
// recovers from an unpinned P-384 library with a skel signed by the pinned one.
TEST(SignedLaunchP384, ASignedLauncherLoadsALibrarySignedByThePinnedP384Key) {
  SKIP_WITHOUT_ECDSA();
  Installation install;
  install.install_app(install.user_data(), {"return=22"}, "app.dll", kHashA,
                      scenario::signed_app("p384"));
  const auto launch = install.run("", "", scenario::signed_launcher());
  EXPECT_EQ(launch.exit_code, 22u);
  EXPECT_TRUE(launch.dialogs.empty());
}

TEST(SignedLaunchP384, AnUnpinnedP384LibraryIsReplacedFromAP384SignedSkel) {
  SKIP_WITHOUT_ECDSA();
  Installation install;
  const std::string data = install.user_data();
  install.install_app(data, {"return=0"}, "app.dll", kHashA, scenario::signed_app("p384-unpinned"));
  install.install_skel(install.program_files() + "\\skel", scenario::signed_app("p384"));
  expect_restored_from_skel(install, data);
}

}  // namespace
