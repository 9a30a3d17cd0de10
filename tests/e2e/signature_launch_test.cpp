// Signature checks at launch: a signed launcher accepts only libraries signed by a pinned key,
// recovers once from a refused library, and gives up with "Signature Failure" the second time.
#include <gtest/gtest.h>

#include "scenario.h"
#include "tests/ecdsa_support.h"

namespace {

using scenario::Installation;
using scenario::kHashA;

std::string read(const std::string &path) {
  std::string content;
  return harness::read_file(path, &content) ? content : "(missing)";
}

// The signed launcher refused the library once, restored the signed skel build and ran it.
void expect_restored_from_skel(const Installation &install, const std::string &data) {
  const auto launch = install.run("", "", scenario::signed_launcher());
  EXPECT_EQ(launch.exit_code, 9u) << "the restored, signed build ran";
  EXPECT_TRUE(launch.dialogs.empty());
  EXPECT_EQ(install.log(data).size(), 1u);
  EXPECT_EQ(read(data + "\\config.txt"), "\napp_block_hash=" + kHashA + "\n");
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
  };
  const Case cases[] = {{"unsigned", scenario::test_app_path(), false},
                        {"unpinned key", scenario::signed_app("unpinned"), false},
                        {"changed after signing", scenario::signed_app("rsa4096"), true}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Installation install;
    const std::string data = install.user_data();
    install.install_app(data, {"return=0"}, "app.dll", kHashA, c.library);
    if (c.tamper) {
      ASSERT_TRUE(scenario::flip_byte(data + "\\app.dll", 0x600));
    }
    install.install_skel(install.program_files() + "\\skel", scenario::signed_app("rsa4096"));
    expect_restored_from_skel(install, data);
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
