// The report's two forms. Both list the same facts in the same order; the JSON keys are part of
// the doctor's documented interface and change only with its "format" number.
#include "src/doctor/doctor_report.h"

#include <cstdlib>
#include <cstring>

#include "src/json/json.h"
#include "src/launch/block_list.h"
#include "src/launch/inert_text.h"
#include "src/launch/launch_args.h"
#include "src/launch/trace.h"

namespace {

constexpr int32_t kFormat = 2;
constexpr const char *kRecordNames[CRASH_COUNTER_MODES] = {"cc0.txt", "cc1.txt", "cc2.txt"};

json_ref member(json_ref object, const char *key) {
  json_ref value = {};
  json_obj_at(object, key, &value);
  return value;
}
void put(json_ref object, const char *key, const char *text) {
  if (!text) {
    member(object, key);  // null
    return;
  }
  const char *end = text + strlen(text);
  json_set_string(member(object, key), text, end, json_string_hash(text, end));
}
void put(json_ref object, const char *key, bool value) {
  json_set_bool(member(object, key), value);
}
void put(json_ref object, const char *key, int32_t value) {
  json_set_number(member(object, key), value);
}

const char *record_state(const RecordProbe &record) {
  if (!record.present) return "absent";
  if (record.live) return "live";
  if (record.foreign) return "foreign";
  return record.discard ? "discarded" : "counted";
}

// Why a record present does not count, or null.
const char *record_why(const RecordProbe &record) {
  if (!record.present || (!record.discard && !record.foreign)) return nullptr;
  if (record.live) return "held by a running launch";
  if (record.foreign) return "another account wrote it or may rewrite it";
  return "not a record of this build: the launch deletes it";
}

const char *end_name(DoctorEnd end) {
  switch (end) {
    case DOCTOR_END_LOAD:
      return "load";
    case DOCTOR_END_BOX:
      return "box";
    default:
      return "exit";
  }
}

void put_library(json_ref object, const DoctorLibrary &library) {
  put(object, "path", library.path);
  put(object, "present", library.present);
  put(object, "link", library.link);
  put(object, "sha256", library.hashable ? library.sha256 : nullptr);
  json_ref signature = member(object, "signature");
  put(signature, "checked", library.checked);
  if (library.checked && library.present) {
    char text[256] = {};
    signature_verdict_text(library.verdict, text, sizeof text);
    put(signature, "accepted", library.verdict.outcome == SIGNATURE_ACCEPTED);
    put(signature, "verdict", text);
  } else {
    member(signature, "accepted");
    member(signature, "verdict");
  }
  put(object, "wx_main", pe_entry_verdict_name(library.entry));
  put(object, "held", library.held);
  put(object, "busy", library.busy);
  put(object, "refused", library.refused);
}

const char *privileged_from(const DoctorReport &report) {
  if (report.assumed.service_account) return "--service-account";
  return report.assumed.privileged ? "--privileged" : "the doctor's token";
}

}  // namespace

bool doctor_report_json(const DoctorReport &report, text_buf *out) {
  const LaunchState &state = report.state;
  json_ref root = json_create();
  if (!root.doc) return false;
  put(root, "format", kFormat);
  json_ref launcher = member(root, "launcher");
  put(launcher, "path", report.launcher);
  put(launcher, "checks_libraries", report.libraries_checked);
  json_ref launch = member(root, "launch");
  put(launch, "mode", launch_mode_name(state.mode));
  put(launch, "privileged", state.privileged);
  put(launch, "privileged_from", privileged_from(report));
  put(launch, "service_account", state.service_account);
  json_ref candidates = member(root, "candidates");
  put(candidates, "local", state.local_dir);
  put(candidates, "machine", state.machine_dir);
  put(candidates, "user", state.user_dir);
  json_ref data = member(root, "data_directory");
  put(data, "path", state.data_dir);
  put(data, "why", report.data_dir_reason);
  put(data, "held", report.data_dir_held);
  put(data, "refused", report.data_dir_refused);
  json_ref settings = member(root, "settings");
  put(settings, "found", state.settings_found);
  put(settings, "busy", state.settings_busy);
  put(settings, "refused", report.settings_refused);
  put(settings, "so_name", state.settings_found ? state.settings.so_name : nullptr);
  put(settings, "hash", state.settings_found ? state.settings.hash : nullptr);
  json_ref records = member(root, "records");
  for (uint32_t mode = 0; mode < CRASH_COUNTER_MODES; ++mode) {
    const RecordProbe &probe = report.records[mode];
    json_ref record = json_array_at(records, mode);
    put(record, "file", kRecordNames[mode]);
    put(record, "state", record_state(probe));
    put(record, "why", record_why(probe));
    put(record, "count", probe.count);
    put(record, "build", probe.discard || probe.foreign ? nullptr : state.settings.hash);
  }
  json_ref recovery = member(root, "recovery");
  const bool runs = report.recovery != RECOVERY_NONE;
  put(recovery, "runs", runs);
  put(recovery, "why", runs ? trace_recovery_reason(report.recovery) : nullptr);
  put(recovery, "first_failure", report.first_failure);
  if (runs && !state.ipc_launch) {
    json_ref skel = member(recovery, "skel");
    put(skel, "path", report.skel.location);
    put(skel, "hash", report.skel.settings_read ? report.skel.settings.hash : nullptr);
    if (report.skel.library.path[0])
      put_library(member(skel, "library"), report.skel.library);
    else
      member(skel, "library");
    put(recovery, "refusal", report.skel.refusal);
    put(recovery, "blocks", report.skel.blocks[0] ? report.skel.blocks : nullptr);
  } else {
    member(recovery, "skel");
    member(recovery, "refusal");
    member(recovery, "blocks");
  }
  if (report.library.path[0])
    put_library(member(root, "library"), report.library);
  else
    member(root, "library");
  json_ref blocks = member(root, "block_lines");
  json_array_grow(blocks, 4);  // an empty array rather than null when there is no line
  uint32_t index = 0;
  block_lines_each(report.config, [&](const char *line, size_t length) {
    json_ref entry = json_array_at(blocks, index++);
    json_set_string(entry, line, line + length, json_string_hash(line, line + length));
  });
  json_ref outcome = member(root, "outcome");
  put(outcome, "ends_with", end_name(report.end));
  put(outcome, "box", report.box);
  put(outcome, "exit_code", report.exit_code);
  put(outcome, "note", report.load_note);
  put(root, "verdict", report.verdict);

  json_writer writer = {};
  writer.flags = JSON_WRITE_PRETTY;
  const bool written = json_serialize(&writer, root);
  if (written) {
    text_append(out, writer.text.data, writer.text.length);
    text_append(out, "\n", 1);
  }
  free(writer.text.data);
  json_destroy(root);
  return written;
}

namespace {

// Texts from files and the environment as a console shows them without acting on them; each
// call's result lives until the ring comes round again.
class Shown {
 public:
  const char *operator()(const char *text) {
    char *slot = slots_[next_++ % kSlots];
    return inert_text(text, slot, kSize, false);
  }

 private:
  static constexpr size_t kSlots = 4, kSize = 4096;
  char slots_[kSlots][kSize];
  size_t next_ = 0;
};

void text_library(text_buf *out, const char *label, const DoctorLibrary &library) {
  Shown shown;
  text_printf(out, "%s: %s\n", label, shown(library.path));
  if (!library.present || library.link) {
    text_printf(out, library.link ? "  a link, which the launcher's lock refuses\n"
                                  : "  missing or cannot be opened\n");
    return;
  }
  text_printf(out, "  SHA-256: %s\n",
              library.hashable ? library.sha256 : "(not hashed: empty, over 1 GiB or unreadable)");
  char verdict[256] = "not checked: the launcher carries no signature";
  if (library.checked) signature_verdict_text(library.verdict, verdict, sizeof verdict);
  text_printf(out, "  signature: %s\n", verdict);
  text_printf(out, "  wx_main: %s\n", pe_entry_verdict_name(library.entry));
  if (library.held) text_printf(out, "  held by a running launch\n");
  if (library.busy)
    text_printf(out, "  busy, held by another program against the launcher's lock\n");
  if (library.refused)
    text_printf(out,
                "  not used by a launch as a service account: another account may change it\n");
}

}  // namespace

void doctor_report_text(const DoctorReport &report, text_buf *out) {
  const LaunchState &state = report.state;
  Shown shown;
  text_printf(out, "Launcher: %s (%s)\n", shown(report.launcher),
              report.libraries_checked ? "checks library signatures"
                                       : "no certificate table: libraries are not checked");
  text_printf(out, "Launch: %s, %s%s (assumed from %s)\n", launch_mode_name(state.mode),
              state.privileged ? "privileged" : "not privileged",
              state.service_account ? ", as a service account" : "", privileged_from(report));
  text_printf(out, "Candidates:\n  local   %s\n  machine %s\n  user    %s\n",
              shown(state.local_dir), shown(state.machine_dir), shown(state.user_dir));
  text_printf(out, "Data directory: %s\n  why: %s%s\n", shown(state.data_dir),
              report.data_dir_reason, report.data_dir_held ? "\n  held by a running launch" : "");
  if (report.data_dir_refused)
    text_printf(out, "  refused by a launch as a service account: %s\n", report.data_dir_refused);
  if (state.settings_found)
    text_printf(out, "Settings: so_name %s, hash %s\n", shown(state.settings.so_name),
                shown(state.settings.hash));
  else if (report.settings_refused)
    text_printf(out,
                "Settings: not used by a launch as a service account: another account may "
                "change them\n");
  else if (state.settings_busy)
    text_printf(
        out, "Settings: busy, held by another program: the launch waits, then changes nothing\n");
  else
    text_printf(out, "Settings: missing or unreadable\n");
  for (uint32_t mode = 0; mode < CRASH_COUNTER_MODES; ++mode) {
    const RecordProbe &probe = report.records[mode];
    text_printf(out, "Record %s: %s", kRecordNames[mode], record_state(probe));
    if (!probe.discard && !probe.foreign) text_printf(out, ", count %d", probe.count);
    if (const char *why = record_why(probe)) text_printf(out, " (%s)", why);
    text_printf(out, "\n");
  }
  if (report.library.path[0]) text_library(out, "Library", report.library);
  if (report.first_failure) text_printf(out, "First pass fails: %s\n", report.first_failure);
  if (report.recovery == RECOVERY_NONE) {
    text_printf(out, "Recovery: none\n");
  } else {
    text_printf(out, "Recovery: %s\n", trace_recovery_reason(report.recovery));
    if (!state.ipc_launch) {
      text_printf(
          out, "  skel: %s, build %s\n", shown(report.skel.location),
          report.skel.settings_read ? shown(report.skel.settings.hash) : "(settings unreadable)");
      if (report.skel.library.path[0]) text_library(out, "  skel library", report.skel.library);
      text_printf(out, "  %s\n", report.skel.refusal ? report.skel.refusal : "would restore");
      text_printf(out, "  blocks %s\n", report.skel.blocks[0] ? report.skel.blocks : "nothing");
    }
  }
  block_lines_each(report.config, [&](const char *line, size_t length) {
    char *copy = static_cast<char *>(malloc(length + 1));
    if (!copy) return;
    memcpy(copy, line, length);
    copy[length] = 0;
    text_printf(out, "Block line: %s\n", shown(copy));
    free(copy);
  });
  switch (report.end) {
    case DOCTOR_END_LOAD:
      text_printf(out, "Ends with: %s loaded%s%s\n",
                  report.verdict == 0 ? "the installed library" : "skel's build, restored,",
                  report.load_note ? "; " : "", report.load_note ? report.load_note : "");
      break;
    case DOCTOR_END_BOX:
      text_printf(out, "Ends with: the box \"%s\", exit code %d\n", report.box, report.exit_code);
      break;
    default:
      text_printf(out, "Ends with: exit code %d\n", report.exit_code);
  }
}
