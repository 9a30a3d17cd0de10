#pragma once
// End-to-end scenarios: a real installation laid out in the Wine prefix, quarlo.exe run on it,
// and what it left behind: exit code, standard output, dialogs, files, the library's log.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "harness.h"

namespace scenario {

std::string test_app_path();                     // the built test library (Wine path, UTF-8)
std::string signed_app(const std::string &key);  // the test library signed by a test key
std::string large_signed_app();  // the test library padded to 32 MB, signed by the rsa4096 key
std::wstring quarlo_path();      // the shipped launcher (production keys)
std::wstring testkeys_path();    // the same launcher with the test keys, unsigned
std::wstring signed_launcher();  // the test-key launcher signed by the pinned RSA-4096 test key

using Record = std::map<std::string, std::string>;

struct Launch {
  unsigned long exit_code = 0;
  std::string output;
  std::vector<harness::Dialog> dialogs;
};

extern const std::string kHashA;  // 64 hex digits naming the "current" build
extern const std::string kHashB;

class Installation {
 public:
  Installation();   // removes every Quarlo directory the launcher may look at
  ~Installation();  // and again afterwards

  // The launcher's data directories, without trailing backslash.
  std::string program_files() const { return program_files_; }  // ...\Program Files\Quarlo
  std::string program_data() const { return program_data_; }    // C:\ProgramData\Quarlo
  std::string user_data() const { return user_data_; }          // %APPDATA%\Quarlo
  std::string local() const { return local_.path(); }           // a fresh starting directory

  void write_setup(const std::string &json);
  // The test library as `so_name` in `dir`, with appdata.json naming it and a script.
  void install_app(const std::string &dir, const std::vector<std::string> &script,
                   const std::string &so_name = "app.dll", const std::string &hash = kHashA,
                   const std::string &library = test_app_path());
  // A pristine copy: `library` as `so_name` in `skel_dir` with its appdata.json and script.
  void install_skel(const std::string &skel_dir, const std::string &library,
                    const std::string &hash = kHashB,
                    const std::vector<std::string> &script = {"return=9"},
                    const std::string &so_name = "app.dll");
  void write_appdata(const std::string &dir, const std::string &so_name, const std::string &hash);
  void write_script(const std::string &dir, const std::vector<std::string> &script);
  std::vector<Record> log(const std::string &dir) const;

  // Starts quarlo.exe (or another launcher) without waiting for it.
  std::unique_ptr<harness::RunningProcess> start(const std::string &arguments = "",
                                                 const std::string &start_dir = "",
                                                 const std::wstring &launcher = L"") const;
  // Waits until the library has logged `calls` calls in `dir` (it is then inside wx_main).
  bool wait_for_calls(const std::string &dir, size_t calls, unsigned timeout_ms = 20000) const;

  // Runs quarlo.exe (or another launcher) from `start_dir` with the given argument text.
  Launch run(const std::string &arguments = "", const std::string &start_dir = "",
             const std::wstring &launcher = L"") const;

 private:
  std::string program_files_, program_data_, user_data_;
  harness::TempDir local_{"local"};
};

// A data directory (%APPDATA%\Quarlo) whose build is kHashA, with a kHashB build signed by the
// pinned rsa4096 test key in skel under Program Files, whose script returns 9.
struct Broken : Installation {
  std::string data = user_data();
  std::string skel = program_files() + "\\skel";
  // `hash` as the installed build's; test_app_hash() when the library must be that build.
  explicit Broken(const std::vector<std::string> &script = {"return=0"},
                  const std::string &hash = kHashA);
  Launch launch(const std::string &arguments = "") const;  // by the unsigned test-key launcher
  bool restored() const;  // the data directory's settings are skel's
};

// A crash-counter record as the launcher writes it.
std::string counter_record(const std::string &hash, int count);
// A file's bytes, or "(missing)".
std::string read(const std::string &path);

// Every entry below `dir`: its path, attributes, size and write time, and with `contents` a digest
// of its bytes; the launcher's temporaries are left out unless `temporaries`.
using Snapshot = std::map<std::string, std::string>;
Snapshot snapshot(const std::string &dir, bool contents, bool temporaries = true);

std::vector<std::string> split(const std::string &text, char separator);
// Changes one byte of a file in place (a signed file then no longer verifies).
bool flip_byte(const std::string &path, long offset);
std::string sha256_of_file(
    const std::string &path);  // by the host's sha256sum, computed at build time
std::string test_app_hash();   // the test library's SHA-256, as settings name its build

}  // namespace scenario
