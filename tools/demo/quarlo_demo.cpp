// Narrated demo of the launcher on a real installation inside the Wine prefix.
#include <windows.h>

#include <cstdio>
#include <string>

#include "scenario.h"

namespace {

using scenario::Installation;

void say(const std::string &text) {
  printf("%s\n", text.c_str());
  fflush(stdout);
}

std::string read(const std::string &path) {
  std::string content;
  return harness::read_file(path, &content) ? content : "(none)";
}

std::string indent(std::string text) {
  for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2)
    text.insert(at + 1, "    ");
  return "    " + text;
}

std::string exit_text(unsigned long code) {
  char text[64];
  snprintf(text, sizeof text, code > 0xFFFF ? "0x%08lX" : "%lu", code);
  return text;
}

void report(const Installation &install, const scenario::Launch &launch, size_t calls_before) {
  const auto log = install.log(install.user_data());
  say("  exit code: " + exit_text(launch.exit_code) +
      (launch.exit_code == 0xC0000005 ? " (the application crashed inside wx_main)" : ""));
  for (size_t i = calls_before; i < log.size(); ++i)
    say("  wx_main call " + log[i].at("call") + ": data directory " + log[i].at("dir") +
        ", library hash " + log[i].at("hash").substr(0, 16) + "..., " + log[i].at("count") +
        " arguments");
  if (log.size() == calls_before) say("  wx_main was not called");
  for (const auto &dialog : launch.dialogs)
    say("  message box \"" + dialog.title + "\": " + dialog.text);
  for (const char *name : {"cc0.txt", "cc1.txt", "cc2.txt"}) {
    const std::string path = install.user_data() + "\\" + name;
    if (harness::file_exists(path))
      say("  crash counter " + std::string(name) + ":\n" + indent(read(path)));
  }
}

scenario::Launch launch(const Installation &install, const std::string &what) {
  say("");
  say("> " + what);
  const size_t before = install.log(install.user_data()).size();
  const auto result = install.run("", "", scenario::signed_launcher());
  report(install, result, before);
  return result;
}

}  // namespace

int main() {
  Installation install;
  const std::string data = install.user_data();
  const std::string skel = install.program_files() + "\\skel";
  // The updated build's settings name its own digest: a crash loop of that very build blocks it.
  const std::string good_build(64, '1');
  const std::string crashing_build = scenario::sha256_of_file(QUARLO_TEST_APP_SHA256 ".rsa2048");

  say("Installing Quarlo as the installer would:");
  install.write_setup("{\"useProgramData\": false}");
  install.install_skel(skel, scenario::signed_app("rsa4096"), good_build, {"return=0"});
  install.install_app(data, {"return=0"}, "app.dll", good_build, scenario::signed_app("rsa4096"));
  say("  " + install.program_files() +
      "\\setup.json: " + read(install.program_files() + "\\setup.json"));
  say("  " + skel + "\\: app.dll (signed by a pinned publisher key), appdata.json");
  say("  " + data + "\\appdata.json: " + read(data + "\\appdata.json"));
  say("  launcher: quarlo.exe built with the test publisher keys and signed with one of them");

  launch(install, "A normal launch: the application returns 0.");

  // The application's script counts calls in its log: start it afresh.
  DeleteFileW(harness::widen(data + "\\test_app_log.txt").c_str());
  install.write_script(data, {"return=1", "return=1", "return=0"});
  launch(install, "A relaunch on request: wx_main returns 1 twice, then 0.");

  say("");
  say("An update installs build 2, which crashes on start.");
  install.install_app(data, {"crash"}, "app.dll", crashing_build, scenario::signed_app("rsa2048"));
  for (int i = 1; i <= 3; ++i) launch(install, "Launch " + std::to_string(i) + " of build 2.");

  launch(install, "Launch 4: the crash counter reached 3, so the launcher restores skel first.");
  say("  config.txt now blocks the crashing build:\n" + indent(read(data + "\\config.txt")));
  say("  appdata.json restored: " + read(data + "\\appdata.json"));

  say("");
  say("The demo removes the installation again as it ends.");
  return 0;
}
