// The insertion strings of the event-log entries and the signature verdicts they carry.
#include "src/launch/event_log.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <string>
#include <vector>

#include "src/launch/trace.h"
#include "src/trust/signature.h"

namespace {

std::vector<std::string> strings_of(const EventStrings &strings) {
  return std::vector<std::string>(strings.text, strings.text + strings.count);
}

void compose(char *line, size_t capacity, const char *format, ...) {
  va_list args;
  va_start(args, format);
  trace_compose(line, capacity, format, args);
  va_end(args);
}

std::string verdict_text(SignatureVerdict verdict) {
  char text[256];
  signature_verdict_text(verdict, text, sizeof text);
  return text;
}

TEST(EventLog, ARecoveryEntryNamesTheBuildWhyModeDirectoryAndOutcome) {
  EventStrings strings;
  event_recovery_strings(std::string(64, 'a').c_str(), "a crash-counter record reached 3",
                         LAUNCH_MODE_SERVICE, "C:\\ProgramData\\Quarlo\\",
                         "File System Error - Skel Crash", &strings);
  EXPECT_EQ(
      strings_of(strings),
      (std::vector<std::string>{std::string(64, 'a'), "a crash-counter record reached 3", "service",
                                "C:\\ProgramData\\Quarlo\\", "File System Error - Skel Crash"}));
  // Settings that were missing named no build: the entry says so rather than leave it blank.
  event_recovery_strings("", "the settings are missing", LAUNCH_MODE_NORMAL, "D:\\q\\", "restored",
                         &strings);
  EXPECT_EQ(strings_of(strings)[0], "none known (the settings were missing)");
  EXPECT_EQ(strings_of(strings)[2], "normal");
}

// A hash from appdata.json or a path may carry line breaks, escape sequences and "%%1", which
// some viewers expand again: every string, and every trace line, shows them as inert stand-ins.
TEST(EventLog, FileTextIsInert) {
  const char *hostile = "ab\r\nBuild replaced: x %%1 \x1b[2J\xc2\x9b\xe2\x80\xae\xff";
  EventStrings strings;
  event_recovery_strings(hostile, "why", LAUNCH_MODE_NORMAL, hostile, "restored", &strings);
  event_busy_strings(hostile, &strings);
  const std::string inert =
      "ab\\x0D\\x0ABuild replaced: x \\x25\\x251 \\x1B[2J\\x9B\\u{202E}\\xFF";
  EXPECT_EQ(strings.text[0], inert);
  event_recovery_strings(hostile, "why", LAUNCH_MODE_NORMAL, hostile, "restored", &strings);
  EXPECT_EQ(strings.text[3], inert);
  char line[256];
  compose(line, sizeof line, "library %s: %d", hostile, 5);
  EXPECT_EQ(line, "quarlo: library " + inert + ": 5");
}

TEST(EventLog, SignatureVerdictsSayWhy) {
  EXPECT_EQ(verdict_text({SIGNATURE_ACCEPTED, 1, 132, 0}),
            "accepted (pinned key 1, 132 characters)");
  // The verifier's answers are HRESULTs: shown as the platform shows them, not sign-extended.
  EXPECT_EQ(verdict_text({SIGNATURE_VERIFIER_REFUSED, 0, 0, int32_t(0x800B0100)}),
            "refused: 'WinVerifyTrust' failed with error 0x800B0100");
  EXPECT_EQ(verdict_text({SIGNATURE_KEY_NOT_PINNED, 0, 0, 0}),
            "refused: signed by a key that is not pinned");
}

}  // namespace
