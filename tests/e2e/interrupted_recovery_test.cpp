// Recovery when the machine is least healthy: a launcher ended at any instant of a crash-loop
// recovery, and a data directory on a full disk. Whatever is left, a few plain launches reach
// the restored build and nothing of the user's is lost.
#include <gtest/gtest.h>

#include "scenario.h"

namespace {

using scenario::Installation;
using scenario::kHashA;
using scenario::kHashB;
using scenario::read;

// A crash loop of build A over a 32 MB signed skel build, the library named `so_name`.
struct CrashLoop : Installation {
  std::string data = user_data();
  std::string skel = program_files() + "\\skel";
  const std::string built = scenario::test_app_hash();
  explicit CrashLoop(const std::string &so_name) {
    install_app(data, {"return=0"}, so_name, built);
    install_skel(skel, scenario::large_signed_app(), kHashB, {"return=9"}, so_name);
    harness::write_file(data + "\\cc0.txt", scenario::counter_record(built, 3));
    harness::write_file(data + "\\config.txt", "theme=dark");
    harness::write_file(data + "\\notes.txt", "mine");
  }
  std::unique_ptr<harness::RunningProcess> begin() const {
    return start("", "", scenario::testkeys_path());
  }
  // Plain launches until the restored build runs, at most three.
  void expect_heals() const {
    for (int launch = 1;; ++launch) {
      const auto result = run("", "", scenario::testkeys_path());
      for (const auto &dialog : result.dialogs) ADD_FAILURE() << "box: " << dialog.title;
      if (result.exit_code == 9u) break;
      if (launch == 3) {
        ADD_FAILURE() << "not healed after three launches, last exit " << result.exit_code;
        break;
      }
    }
    EXPECT_EQ(read(data + "\\appdata.json"), read(skel + "\\appdata.json"));
    EXPECT_EQ(read(data + "\\notes.txt"), "mine");
    EXPECT_EQ(read(data + "\\config.txt"), "theme=dark\napp_block_hash=" + built + "\n")
        << "the crash-looping build blocked, once";
    WIN32_FIND_DATAW found;
    EXPECT_EQ(FindFirstFileW(harness::widen(data + "\\quarlo-*.tmp").c_str(), &found),
              INVALID_HANDLE_VALUE)
        << "no temporary is left";
  }
};

// Ends the launcher right after the `changes`-th change of the installation's files; false when
// it finished first (or stopped at a box and was ended after a minute).
bool interrupt_after_changes(const CrashLoop &install, int changes) {
  // The launcher's temporaries left out: a change is one of the installation's own files.
  scenario::Snapshot last = scenario::snapshot(install.data, false, false);
  auto launcher = install.begin();
  const ULONGLONG deadline = GetTickCount64() + 60000;
  for (int seen = 0; !launcher->exited();) {
    if (GetTickCount64() > deadline) {
      ADD_FAILURE() << "the launcher did not finish";
      return false;
    }
    const scenario::Snapshot now = scenario::snapshot(install.data, false, false);
    if (now != last && ++seen == changes) return launcher->wait(0) == 0xDEAD;
    last = now;
    Sleep(1);
  }
  return false;
}

TEST(InterruptedRecovery, EndingTheLauncherAtAnyPointStillHeals) {
  for (const std::string so_name : {"app.dll", "quarlo.dll"}) {  // before and after appdata.json
    SCOPED_TRACE(so_name);
    ULONGLONG duration = 0;
    {
      const CrashLoop install(so_name);
      const ULONGLONG started = GetTickCount64();
      EXPECT_EQ(install.begin()->wait(), 9u) << "uninterrupted, the recovery completes";
      duration = GetTickCount64() - started;
    }
    for (int changes = 1;; ++changes) {
      SCOPED_TRACE("after change " + std::to_string(changes));
      const CrashLoop install(so_name);
      if (!interrupt_after_changes(install, changes)) {
        // The block line, the library, the script, the settings and the records all change.
        EXPECT_GE(changes, 4) << "interrupted after too few changes to be telling";
        break;
      }
      install.expect_heals();
    }
    constexpr int kSteps = 6;
    for (int step = 1; step <= kSteps; ++step) {
      SCOPED_TRACE("at step " + std::to_string(step) + " of " + std::to_string(kSteps + 1));
      const CrashLoop install(so_name);
      auto launcher = install.begin();
      Sleep(DWORD(duration * step / (kSteps + 1)));
      launcher->wait(0);
      install.expect_heals();
    }
  }
}

// A recovery that a refused library started is finished too, although the next launches find a
// library that passes: ended just after the library was replaced, the settings and the skel files
// after it still come.
TEST(InterruptedRecovery, ARecoveryARefusedLibraryStartedIsFinished) {
  Installation install;
  const std::string data = install.user_data(), skel = install.program_files() + "\\skel";
  install.install_app(data, {"return=0"});  // unsigned: the signed launcher refuses it
  install.install_skel(skel, scenario::large_signed_app());
  harness::write_file(skel + "\\zz-after.txt", "after the library");
  const std::string unsigned_library = read(data + "\\app.dll");
  auto launcher = install.start("", "", scenario::signed_launcher());
  WIN32_FILE_ATTRIBUTE_DATA library = {};
  const std::wstring path = harness::widen(data + "\\app.dll");
  while (!launcher->exited() &&
         GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &library) &&
         library.nFileSizeLow == unsigned_library.size())
    Sleep(1);
  ASSERT_EQ(launcher->wait(0), 0xDEADu) << "ended just after the library changed";
  ASSERT_NE(read(data + "\\appdata.json"), read(skel + "\\appdata.json"));
  EXPECT_EQ(install.run("", "", scenario::signed_launcher()).exit_code, 9u);
  EXPECT_EQ(read(data + "\\appdata.json"), read(skel + "\\appdata.json"));
  EXPECT_EQ(read(data + "\\zz-after.txt"), "after the library");
}

// Runs under small_volume.sh, with C:\ProgramData\Quarlo on a small volume of its own.
TEST(SmallVolume, DISABLED_AFullDiskRefusesTheRecoveryUntilThereIsRoom) {
  ASSERT_TRUE(GetEnvironmentVariableW(L"QUARLO_SMALL_VOLUME", nullptr, 0) > 0);
  Installation install;
  install.write_setup("{\"useProgramData\": true}");
  const std::string data = install.program_data();
  install.install_app(data, {"return=0"});
  install.install_skel(install.program_files() + "\\skel", scenario::signed_app("rsa4096"));
  harness::write_file(data + "\\cc0.txt", "{\n\t\"count\": 3,\n\t\"hash\": \"" + kHashA + "\"\n}");
  // Ballast leaves room for less than half of the new library beside the old one.
  ULARGE_INTEGER free_bytes = {};
  ASSERT_TRUE(GetDiskFreeSpaceExW(harness::widen(data).c_str(), &free_bytes, nullptr, nullptr));
  const std::string library = read(scenario::signed_app("rsa4096"));
  const ULONGLONG ballast = free_bytes.QuadPart - library.size() / 2;
  ASSERT_TRUE(harness::write_file(data + "\\ballast", std::string(size_t(ballast), 'x')));

  const auto refused = install.run("", "", scenario::testkeys_path());
  EXPECT_EQ(refused.exit_code, 0u);
  ASSERT_EQ(refused.dialogs.size(), 1u);
  EXPECT_EQ(refused.dialogs[0].title, "File System Error - Skel Copy");
  EXPECT_TRUE(install.log(data).empty()) << "the crashing build did not run";

  DeleteFileW(harness::widen(data + "\\ballast").c_str());
  const auto healed = install.run("", "", scenario::testkeys_path());
  EXPECT_TRUE(healed.dialogs.empty());
  EXPECT_EQ(healed.exit_code, 9u);
}

}  // namespace
