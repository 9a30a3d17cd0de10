// The doctor agrees with the launcher: in each layout its verdict is what the launch then does,
// and it changes nothing on the way.
#include <gtest/gtest.h>

#include "scenario.h"
#include "src/json/json.h"

namespace {

using scenario::counter_record;
using scenario::Installation;
using scenario::kHashA;
using scenario::kHashB;

// Every name, size, time and byte under the four Quarlo directories.
std::vector<scenario::Snapshot> tree(const Installation &install) {
  std::vector<scenario::Snapshot> trees;
  for (const auto &dir :
       {install.program_files(), install.program_data(), install.user_data(), install.local()})
    trees.push_back(scenario::snapshot(dir, true));
  return trees;
}

// The doctor's JSON report, read back with the product's JSON library.
struct Report {
  unsigned long exit_code = 0;
  json_ref root = json_create();
  ~Report() { json_destroy(root); }
  json_ref at(const std::string &path) const {
    json_ref value = root;
    for (const auto &key : scenario::split(path, '.')) {
      const json_cell *cell = json_resolve(value);
      value = cell && cell->kind == JSON_ARRAY ? json_array_at(value, uint32_t(std::stoul(key)))
                                               : json_obj_get(value, key.c_str());
    }
    return value;
  }
  std::string text(const std::string &path) const {
    const char *begin = nullptr, *end = nullptr;
    return json_get_string(at(path), &begin, &end) ? std::string(begin, end) : "(null)";
  }
  double number(const std::string &path) const {
    double value = -1;
    json_get_number(at(path), &value);
    return value;
  }
};

// A data directory whose build is kHashA, run by the test-key launcher, with skel under
// Program Files; the doctor is asked about that launcher.
struct Layout : Installation {
  std::string data = user_data();
  std::string skel = program_files() + "\\skel";
  explicit Layout(const std::vector<std::string> &script = {"return=0"}) {
    install_app(data, script);
  }
  void good_skel(const std::string &hash = kHashB) {
    install_skel(skel, scenario::signed_app("rsa4096"), hash);
  }
  // Runs the doctor and checks that the tree is as it was.
  harness::ProcessResult doctor(const wchar_t *form = L"--json") const {
    const auto before = tree(*this);
    const std::wstring line = L"\"" + harness::host_path(QUARLO_DOCTOR_TESTKEYS_EXE) + L"\" " +
                              form + L" --launcher \"" + scenario::testkeys_path() + L"\"";
    const auto result = harness::run_process(line, harness::widen(local()));
    EXPECT_EQ(tree(*this), before) << "the doctor changed the installation";
    return result;
  }
  void doctor(Report *report) const {
    const auto result = doctor();
    ASSERT_TRUE(result.started);
    report->exit_code = result.exit_code;
    ASSERT_TRUE(
        json_parse(report->root, result.output.data(), result.output.data() + result.output.size()))
        << result.output;
  }
  scenario::Launch launch() const { return run("", "", scenario::testkeys_path()); }
};

void expect_box(const Report &report, const scenario::Launch &launch, const char *title) {
  EXPECT_EQ(report.exit_code, 2u);
  EXPECT_EQ(report.text("outcome.ends_with"), "box");
  EXPECT_EQ(report.text("outcome.box"), title);
  EXPECT_EQ(launch.exit_code, 0u);
  ASSERT_EQ(launch.dialogs.size(), 1u);
  EXPECT_EQ(launch.dialogs[0].title, title);
}

TEST(Doctor, AHealthyInstallLoads) {
  Layout layout({"return=4"});
  // Another build's record: the launcher deletes it, the doctor must leave it.
  harness::write_file(layout.data + "\\cc2.txt", counter_record(kHashB, 5));
  // A block line that would clear the administrator's console and retitle it: the text report
  // shows it, but inert.
  harness::write_file(layout.data + "\\config.txt",
                      "app_block_hash=\x1b[2J\x1b]0;owned\x07\xc2\x9b\rforged line\n");
  const std::string text = layout.doctor(L"").output;
  EXPECT_NE(text.find("Block line: app_block_hash=\\x1B[2J\\x1B]0;owned\\x07\\x9B\\x0Dforged"),
            std::string::npos)
      << text;
  for (size_t i = 0; i < text.size(); ++i)
    if (uint8_t(text[i]) < 0x20 && text[i] != '\n' && !(text[i] == '\r' && text[i + 1] == '\n'))
      ADD_FAILURE() << "a raw control byte " << int(text[i]) << " at " << i;
  Report report;
  layout.doctor(&report);
  EXPECT_EQ(report.exit_code, 0u);
  EXPECT_EQ(report.text("outcome.ends_with"), "load");
  EXPECT_EQ(report.text("library.wx_main"), "exported");
  EXPECT_EQ(report.text("library.sha256"), scenario::sha256_of_file(QUARLO_TEST_APP_SHA256));
  EXPECT_FALSE(json_get_bool(report.at("recovery.runs")));
  EXPECT_EQ(report.text("records.2.state"), "discarded");
  const auto launch = layout.launch();
  EXPECT_EQ(launch.exit_code, 4u);
  EXPECT_TRUE(launch.dialogs.empty());
}

TEST(Doctor, ACrashLoopWithAGoodSkelRestoresFirst) {
  Layout layout;
  layout.good_skel();
  harness::write_file(layout.data + "\\cc0.txt", counter_record(kHashA, 3));
  Report report;
  layout.doctor(&report);
  EXPECT_EQ(report.exit_code, 1u);
  EXPECT_EQ(report.text("recovery.why"), "a crash-counter record reached 3");
  EXPECT_EQ(report.text("records.0.state"), "counted");
  EXPECT_EQ(report.number("records.0.count"), 3);
  EXPECT_EQ(report.text("recovery.skel.hash"), kHashB);
  EXPECT_EQ(report.text("recovery.refusal"), "(null)");
  EXPECT_EQ(report.text("outcome.ends_with"), "load");
  const auto launch = layout.launch();
  EXPECT_EQ(launch.exit_code, 9u) << "the restored build ran (its script returns 9)";
  EXPECT_TRUE(launch.dialogs.empty());
}

// Judged from the export table: a library without wx_main fails once, and the retry copies
// skel's build over it; so does one that cannot be hashed.
TEST(Doctor, ALibraryWithoutWxMainOrEmptyIsReplacedFromSkel) {
  for (const bool empty : {false, true}) {
    SCOPED_TRACE(empty ? "empty" : "no wx_main");
    Layout layout;
    layout.good_skel();
    if (empty)
      harness::write_file(layout.data + "\\app.dll", "");
    else
      CopyFileW(harness::host_path(QUARLO_NO_ENTRY_APP).c_str(),
                harness::widen(layout.data + "\\app.dll").c_str(), FALSE);
    Report report;
    layout.doctor(&report);
    EXPECT_EQ(report.exit_code, 1u);
    EXPECT_EQ(report.text("recovery.first_failure"),
              empty ? "the library cannot be hashed: empty, over 1 GiB or unreadable"
                    : "it does not export wx_main");
    EXPECT_EQ(report.text("recovery.skel.library.wx_main"), "exported");
    EXPECT_EQ(layout.launch().exit_code, 9u);
  }
}

TEST(Doctor, SkelOfTheCrashingBuildIsRefused) {
  Layout layout;
  layout.good_skel(kHashA);
  harness::write_file(layout.data + "\\cc1.txt", counter_record(kHashA, 3));
  Report report;
  layout.doctor(&report);
  expect_box(report, layout.launch(), "File System Error - Skel Crash");
}

TEST(Doctor, AnUnsignedSkelIsRefused) {
  Layout layout;
  layout.install_skel(layout.skel, scenario::test_app_path());
  harness::write_file(layout.data + "\\cc0.txt", counter_record(kHashA, 3));
  Report report;
  layout.doctor(&report);
  EXPECT_FALSE(json_get_bool(report.at("recovery.skel.library.signature.accepted")));
  expect_box(report, layout.launch(), "File System Error - Skel Signature");
}

TEST(Doctor, MissingSettingsAreRestoredAndTheNextLaunchLoads) {
  Layout layout;
  layout.good_skel();
  DeleteFileW(harness::widen(layout.data + "\\appdata.json").c_str());
  Report report;
  layout.doctor(&report);
  EXPECT_EQ(report.exit_code, 1u);
  EXPECT_EQ(report.text("recovery.why"), "the settings are missing");
  EXPECT_EQ(report.text("outcome.ends_with"), "exit");
  EXPECT_EQ(report.number("outcome.exit_code"), 2);
  const auto launch = layout.launch();
  EXPECT_EQ(launch.exit_code, 2u);
  EXPECT_TRUE(harness::file_exists(layout.data + "\\appdata.json"));
}

// A launch inside wx_main holds its record, raised to 3: live, so it neither counts nor goes. A
// crash loop of another mode found beside it is refused: the running launch holds the library.
TEST(Doctor, ARecordHeldByARunningLaunchIsLive) {
  Layout layout({"sleep=8000 return=0", "return=5"});
  layout.good_skel();
  harness::write_file(layout.data + "\\cc0.txt", counter_record(kHashA, 2));
  auto running = layout.start("", "", scenario::testkeys_path());
  ASSERT_TRUE(layout.wait_for_calls(layout.data, 1));
  Report report;
  layout.doctor(&report);
  EXPECT_EQ(report.exit_code, 0u);
  EXPECT_EQ(report.text("records.0.state"), "live");
  EXPECT_TRUE(json_get_bool(report.at("data_directory.held")));
  EXPECT_EQ(layout.launch().exit_code, 5u) << "no recovery: the second script line ran";
  harness::write_file(layout.data + "\\cc2.txt", counter_record(kHashA, 3));
  Report beside;
  layout.doctor(&beside);
  EXPECT_EQ(beside.text("recovery.blocks"), "(null)") << "the library is not the settings' build";
  expect_box(beside, layout.launch(), "File System Error - Skel Copy");
  EXPECT_EQ(running->wait(), 0u);
}

// A local layout without skel has nothing to recover from: a library that fails tries once more
// and the launch ends with an exit code of its own and no box. The doctor once predicted a
// recovery here.
TEST(Doctor, ALocalLibraryThatFailsTwiceEndsWithTwo) {
  for (const char *library : {"", static_cast<const char *>(nullptr), QUARLO_NO_ENTRY_APP}) {
    SCOPED_TRACE(library ? library : "no library");
    Layout layout;
    layout.good_skel();
    const std::string dir = layout.local();
    layout.install_app(dir, {"return=0"});
    const std::string path = dir + "\\app.dll";
    if (!library)
      DeleteFileW(harness::widen(path).c_str());
    else if (!*library)
      harness::write_file(path, "");
    else
      CopyFileW(harness::host_path(library).c_str(), harness::widen(path).c_str(), FALSE);
    Report report;
    layout.doctor(&report);
    EXPECT_EQ(report.exit_code, 2u);
    EXPECT_EQ(report.text("outcome.ends_with"), "exit");
    EXPECT_EQ(report.number("outcome.exit_code"), 2);
    const auto launch = layout.launch();
    EXPECT_EQ(launch.exit_code, 2u);
    EXPECT_TRUE(launch.dialogs.empty());
    EXPECT_TRUE(layout.log(dir).empty());
  }
}

}  // namespace
