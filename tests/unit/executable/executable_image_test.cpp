#include <gtest/gtest.h>
#include <windows.h>

#include <cstddef>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "harness.h"
#include "tests/unit/pe_image.h"

// The canary of the product code linked into this test, seeded as in the launcher.
extern "C" uintptr_t __stack_chk_guard;

namespace {

const std::wstring kExe = harness::host_path(QUARLO_EXE);

// The file's bytes and its headers over them.
struct PeImage {
  explicit PeImage(const std::wstring &path) {
    std::string content;
    if (harness::read_file(harness::narrow(path), &content))
      bytes.assign(content.begin(), content.end());
    const size_t pe = pe_image::get(bytes, offsetof(IMAGE_DOS_HEADER, e_lfanew));
    if (pe && pe + sizeof(IMAGE_NT_HEADERS64) <= bytes.size())
      nt = reinterpret_cast<const IMAGE_NT_HEADERS64 *>(&bytes[pe]);
  }
  bool ok() const { return nt && nt->Signature == IMAGE_NT_SIGNATURE; }
  std::vector<IMAGE_SECTION_HEADER> sections() const {
    return {IMAGE_FIRST_SECTION(nt), IMAGE_FIRST_SECTION(nt) + nt->FileHeader.NumberOfSections};
  }
  pe_image::Bytes bytes;
  const IMAGE_NT_HEADERS64 *nt = nullptr;
};

TEST(ExecutableImage, IsA64BitGuiProgram) {
  PeImage image(kExe);
  ASSERT_TRUE(image.ok());
  EXPECT_EQ(image.nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
  EXPECT_EQ(image.nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
}

// Static imports are loaded before the first line of the launcher runs. Windows takes the
// system's known DLLs (the KnownDLLs list) from System32 only; any other name it looks for
// beside the program first, where whoever can write that folder may plant it.
// The doctor is run elevated from folders users can write too.
TEST(ExecutableImage, ImportsOnlyWindowsSystemLibraries) {
  for (const std::wstring &exe : {kExe, harness::host_path(QUARLO_DOCTOR_EXE)}) {
    PeImage image(exe);
    ASSERT_TRUE(image.ok());
    const std::set<std::string> known = {"kernel32.dll", "shell32.dll",  "shlwapi.dll",
                                         "ole32.dll",    "advapi32.dll", "msvcrt.dll"};
    const auto dlls = pe_image::imported_dlls(image.bytes);
    ASSERT_FALSE(dlls.empty());
    for (const auto &dll : dlls)
      EXPECT_TRUE(known.count(dll)) << harness::narrow(exe) << " imports " << dll;
  }
}

// Address-space randomisation needs the relocations as well as the flag; data execution
// prevention is only as good as the sections that are never both written and run.
TEST(ExecutableImage, IsRandomisedAndNeverRunsWhatItWrites) {
  PeImage image(kExe);
  ASSERT_TRUE(image.ok());
  const auto &optional = image.nt->OptionalHeader;
  for (WORD flag : {IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE, IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA,
                    IMAGE_DLLCHARACTERISTICS_NX_COMPAT}) {
    EXPECT_TRUE(optional.DllCharacteristics & flag)
        << "DllCharacteristics lacks 0x" << std::hex << flag;
  }
  EXPECT_FALSE(image.nt->FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED);
  EXPECT_NE(optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size, 0u);
  for (const auto &section : image.sections()) {
    const std::string name(reinterpret_cast<const char *>(section.Name),
                           strnlen(reinterpret_cast<const char *>(section.Name), 8));
    EXPECT_FALSE((section.Characteristics & IMAGE_SCN_MEM_WRITE) &&
                 (section.Characteristics & IMAGE_SCN_MEM_EXECUTE))
        << name << " is writable and executable";
  }
}

// The stripped image keeps no symbols, so the link map beside it shows that product code calls
// the canary check, and that the check itself is in the image.
TEST(ExecutableImage, ProductCodeChecksStackCanaries) {
  std::string map;
  ASSERT_TRUE(harness::read_file(harness::narrow(harness::host_path(QUARLO_EXE ".map")), &map));
  const size_t layout = map.find("Linker script and memory map");
  ASSERT_NE(layout, std::string::npos);
  const std::string guard = "libquarlo_lib.a(stack_guard_win32.cpp.obj)\n";
  const size_t member = map.find(guard);
  ASSERT_LT(member, layout) << "the canary and its check are not linked in";
  const size_t line = member + guard.size();
  const std::string reference = map.substr(line, map.find('\n', line) - line);
  EXPECT_NE(reference.find("libquarlo_lib.a("), std::string::npos) << reference;
  EXPECT_NE(reference.find("(__stack_chk_"), std::string::npos) << reference;
  EXPECT_NE(map.find("                __stack_chk_fail\n", layout), std::string::npos)
      << "the check is not in the image";
  // Seeding clears the low byte, which the value built into the image has set.
  EXPECT_EQ(__stack_chk_guard & 0xFF, 0u) << "the canary was never seeded";

  // The canary alone in a section, so alone on its page, which seeding left read-only.
  const size_t section = map.find("\n.canary ", layout);
  ASSERT_NE(section, std::string::npos) << "the canary has no section of its own";
  EXPECT_NE(map.substr(section, map.find("\n\n", section) - section).find("__stack_chk_guard"),
            std::string::npos);
  PeImage image(kExe);
  ASSERT_TRUE(image.ok());
  bool alone = false;
  for (const auto &header : image.sections())
    alone |= !memcmp(header.Name, ".canary", 8) && header.Misc.VirtualSize == sizeof(uintptr_t);
  EXPECT_TRUE(alone) << "no section .canary of the canary's size";
  MEMORY_BASIC_INFORMATION page = {};
  ASSERT_NE(VirtualQuery(&__stack_chk_guard, &page, sizeof page), 0u);
  EXPECT_EQ(page.Protect, DWORD(PAGE_READONLY));
}

std::string manifest_text() {
  HMODULE image = LoadLibraryExW(kExe.c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!image) return {};
  std::string text;
  if (HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) {
    const void *data = LockResource(LoadResource(image, found));
    text.assign(static_cast<const char *>(data), SizeofResource(image, found));
  }
  FreeLibrary(image);
  return text;
}

TEST(ExecutableImage, ManifestDeclaresPrivilegeControlsDpiAndSupportedSystems) {
  const std::string manifest = manifest_text();
  ASSERT_FALSE(manifest.empty()) << "no manifest resource 1";
  for (const char *needle : {
           "level=\"asInvoker\"", "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
           "PerMonitorV2",
           "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // Windows 7
           "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // Windows 8
           "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // Windows 8.1
           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // Windows 10
       }) {
    EXPECT_NE(manifest.find(needle), std::string::npos) << needle;
  }
}

TEST(ExecutableImage, CarriesIconAndVersion) {
  HMODULE image = LoadLibraryExW(kExe.c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(image, nullptr);
  EXPECT_NE(FindResourceW(image, MAKEINTRESOURCEW(1), RT_GROUP_ICON), nullptr);
  FreeLibrary(image);

  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(kExe.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(kExe.c_str(), 0, size, info.data()));
  wchar_t *name = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904B0\\OriginalFilename",
                             reinterpret_cast<void **>(&name), &length));
  EXPECT_STREQ(name, L"quarlo.exe");
}

}  // namespace
