#pragma once
// Whether a library would export an entry point, judged from its headers and export table only:
// the doctor never loads an application library.
#include <cstdint>

enum PeEntryVerdict : uint32_t {
  PE_ENTRY_EXPORTED = 0,    // an x64 DLL that exports the name from its own code
  PE_ENTRY_MISSING = 1,     // an x64 DLL that does not export the name
  PE_ENTRY_NO_LIBRARY = 2,  // not an x64 DLL: the loader refuses it
  PE_ENTRY_UNKNOWN = 3,     // the tables lie outside the bytes, or the export is forwarded
};

// Looks `name` up among the exports of the image file `bytes` (`size` bytes). Every offset and
// count is checked against the bytes: a damaged or hostile image reads as unknown.
PeEntryVerdict pe_entry_verdict(const uint8_t *bytes, uint64_t size, const char *name);
// The same, adding to *section_reads how many section headers it read: its work, which tests
// bound.
PeEntryVerdict pe_entry_verdict(const uint8_t *bytes, uint64_t size, const char *name,
                                uint64_t *section_reads);
// "exported", "missing", "not an x64 DLL" or "unknown".
const char *pe_entry_verdict_name(PeEntryVerdict verdict);
