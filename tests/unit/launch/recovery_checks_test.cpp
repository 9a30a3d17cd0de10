// Recovery's checks over a fake table of platform steps: their order, the refusal each gives, and
// that everything the checks open is closed again.
#include "src/launch/recovery_checks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "zeb/file_list.h"
#include "zeb/memory.h"

namespace {

const std::string kSkelHash(64, 'b');

// Records each step by name; the step named `failing` fails.
struct Fake {
  std::string failing;
  bool skel_inside = false;
  bool admin_only = true;
  std::string settings = "{\"so_name\": \"app.dll\", \"hash\": \"" + kSkelHash + "\"}";
  std::string installed_hash = std::string(64, 'a');
  std::string config = "theme=dark\n";
  std::vector<std::string> calls;
  int open = 0;

  bool step(const std::string &name) {
    calls.push_back(name);
    return name != failing;
  }
  void *handle(const std::string &name) {
    if (!step(name)) return nullptr;
    ++open;
    return this;
  }
};

Fake &fake(void *context) { return *static_cast<Fake *>(context); }
std::string last_part(const char *path) { return strrchr(path, '\\') + 1; }

bool hold_data(void *context, const char *, void **handle) {
  *handle = fake(context).handle("hold data");
  return *handle;
}
bool exists(void *context, const char *) {
  fake(context).calls.push_back("skel inside?");
  return fake(context).skel_inside;
}
void program_files_skel(void *, char skel[SKEL_LOCATION_SIZE]) {
  snprintf(skel, SKEL_LOCATION_SIZE, "P:\\Quarlo\\skel");
}
bool hold_directory(void *context, const char *path, void **handle) {
  *handle = fake(context).handle(std::string("hold ") + path);
  return *handle;
}
void *open_file(void *context, const char *path) {
  return fake(context).handle("open " + last_part(path));
}
bool read_all(void *context, void *, uint64_t, char **bytes, uint64_t *size) {
  const std::string &text = fake(context).settings;
  *bytes = ZEB_Strdup(text.c_str());
  *size = text.size();
  return true;
}
void close_handle(void *context, void *) { --fake(context).open; }
bool admin_only(void *context, void *, void *) {
  fake(context).calls.push_back("admin only?");
  return fake(context).admin_only;
}
// skel holds its library, its settings and one more file.
ZEB_FileList *list(void *context, const char *) {
  auto *entries = static_cast<ZEB_FileList *>(ZEB_Alloc(1, sizeof(ZEB_FileList)));
  if (!fake(context).step("list")) return entries;
  entries->len = 3;
  entries->files = static_cast<ZEB_FileDesc *>(ZEB_Alloc(3, sizeof(ZEB_FileDesc)));
  const char *names[] = {"app.dll", "appdata.json", "extra.txt"};
  for (uint32_t i = 0; i < 3; ++i)
    entries->files[i] = {ZEB_Strdup((std::string("skel\\") + names[i]).c_str()),
                         ZEB_Strdup(names[i]), 1, false};
  return entries;
}
bool verify(void *context, const char *path, void *) {
  return fake(context).step("verify " + last_part(path));
}
bool hold_lock_name(void *context, const char *path, void **handle) {
  *handle = fake(context).handle("hold " + last_part(path));
  return *handle;
}
bool hash_installed(void *context, const char *, char hash[65]) {
  if (!fake(context).step("hash")) return false;
  snprintf(hash, 65, "%s", fake(context).installed_hash.c_str());
  return true;
}
bool read_config(void *context, const char *, char **text) {
  *text = ZEB_Strdup(fake(context).config.c_str());
  return true;
}
bool hold_target(void *context, const char *path, void **handle) {
  *handle = fake(context).handle("hold target " + last_part(path));
  return *handle;
}

struct Checked {
  const char *refusal;
  std::vector<std::string> calls;
  std::string skel;
  std::string block;
};

Checked run(Fake fake, const std::string &installed_hash = std::string(64, 'a'),
            RecoveryReason reason = RECOVERY_CRASH_LOOP, bool privileged = false,
            const char *pending_block = "") {
  const RecoverySteps steps = {&fake,          hold_data,   exists,     program_files_skel,
                               hold_directory, open_file,   read_all,   close_handle,
                               admin_only,     list,        verify,     hold_lock_name,
                               hash_installed, read_config, hold_target};
  LaunchSettings installed = {};
  snprintf(installed.so_name, sizeof installed.so_name, "app.dll");
  snprintf(installed.hash, sizeof installed.hash, "%s", installed_hash.c_str());
  RecoveryCheck check;
  const RecoveryRequest request = {reason, privileged, pending_block};
  const char *refusal = recovery_check("D:\\data\\", &installed, request, steps, &check);
  Checked result = {refusal, fake.calls, check.skel, check.block};
  recovery_check_release(steps, &check);
  EXPECT_EQ(fake.open, 0) << "everything opened is closed";
  return result;
}

// Nothing is changed by the checks: every file the copy needs, and every file it replaces, is
// held before the copy begins.
const std::vector<std::string> kAllSteps = {"hold data",
                                            "skel inside?",
                                            "hold P:\\Quarlo\\skel",
                                            "open appdata.json",
                                            "open app.dll",
                                            "verify app.dll",
                                            "hold lock",
                                            "hold lock_client",
                                            "list",
                                            "hash",
                                            "hold target app.dll",
                                            "hold target appdata.json",
                                            "open extra.txt",
                                            "hold target extra.txt"};

TEST(RecoveryChecks, RunInOrderAndStopAtTheFirstRefusal) {
  const Checked passed = run(Fake{});
  EXPECT_EQ(passed.refusal, nullptr);
  EXPECT_EQ(passed.calls, kAllSteps);
  struct Case {
    const char *failing;
    const char *refusal;
  };
  for (const Case &c :
       {Case{"hold data", SKEL_REFUSE_RECOVERY_LOCK},
        Case{"hold P:\\Quarlo\\skel", SKEL_REFUSE_MISSING},
        Case{"open appdata.json", SKEL_REFUSE_MISSING}, Case{"open app.dll", SKEL_REFUSE_SIGNATURE},
        Case{"verify app.dll", SKEL_REFUSE_SIGNATURE}, Case{"hold lock", SKEL_REFUSE_LOCKFILE},
        Case{"hold lock_client", SKEL_REFUSE_CLIENT_LOCKFILE}, Case{"list", SKEL_REFUSE_COPY},
        Case{"hold target app.dll", SKEL_REFUSE_COPY}, Case{"open extra.txt", SKEL_REFUSE_COPY},
        Case{"hold target extra.txt", SKEL_REFUSE_COPY}}) {
    SCOPED_TRACE(c.failing);
    Fake fake;
    fake.failing = c.failing;
    const Checked refused = run(fake);
    EXPECT_STREQ(refused.refusal, c.refusal);
    EXPECT_EQ(refused.calls.back(), c.failing) << "nothing runs after the refusal";
  }
}

TEST(RecoveryChecks, SkelSettingsAndTheSameBuildRule) {
  Fake broken;
  broken.settings = "{\"so_name\": \"app.dll\"}";
  EXPECT_STREQ(run(broken).refusal, SKEL_REFUSE_MISSING);
  // skel of the installed build: refused after a crash loop, copied again after a retry.
  const Checked crash = run(Fake{}, kSkelHash, RECOVERY_CRASH_LOOP);
  EXPECT_STREQ(crash.refusal, SKEL_REFUSE_CRASH);
  EXPECT_EQ(crash.calls.back(), "open appdata.json") << "refused before the library is verified";
  EXPECT_EQ(run(Fake{}, kSkelHash, RECOVERY_RETRY).refusal, nullptr);
  EXPECT_EQ(run(Fake{}, "", RECOVERY_MISSING_SETTINGS).refusal, nullptr);
}

TEST(RecoveryChecks, OnlyABuildProvenBadIsBlockedAndOnlyOnce) {
  const std::string built(64, 'a');
  EXPECT_EQ(run(Fake{}).block, built) << "a crash loop of the installed build";
  EXPECT_EQ(run(Fake{}, built, RECOVERY_SIGNATURE).block, built) << "a refused signature";
  Fake altered;
  altered.installed_hash = std::string(64, 'c');
  EXPECT_EQ(run(altered).block, "") << "an altered copy";
  Fake unreadable;
  unreadable.failing = "hash";
  EXPECT_EQ(run(unreadable).block, "") << "a library that cannot be hashed";
  EXPECT_EQ(run(Fake{}, built, RECOVERY_RETRY).block, "") << "a failed lock, hash, load or entry";
  EXPECT_EQ(run(Fake{}, "", RECOVERY_MISSING_SETTINGS).block, "");
  Fake blocked;
  blocked.config = "theme=dark\r\napp_block_hash=" + built + "\r\n";
  EXPECT_EQ(run(blocked).block, "") << "blocked already";
  const std::string marked(64, 'd');
  EXPECT_EQ(run(Fake{}, built, RECOVERY_PENDING, false, marked.c_str()).block, marked)
      << "a recovery cut short blocks what its mark names";
}

TEST(RecoveryChecks, APrivilegedLaunchPassesOverASkelInsideThatUsersControl) {
  for (const bool privileged : {false, true}) {
    for (const bool admin_only : {false, true}) {
      SCOPED_TRACE(std::string(privileged ? "privileged" : "not privileged") +
                   (admin_only ? ", administrators only" : ", users may change it"));
      Fake fake;
      fake.skel_inside = true;
      fake.admin_only = admin_only;
      const Checked checked = run(fake, std::string(64, 'a'), RECOVERY_CRASH_LOOP, privileged);
      EXPECT_EQ(checked.refusal, nullptr);
      const bool inside = !privileged || admin_only;
      EXPECT_EQ(checked.skel, inside ? "D:\\data\\\\skel" : "P:\\Quarlo\\skel");
    }
  }
}

}  // namespace
