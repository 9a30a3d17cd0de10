#pragma once
// Text taken from files that users may write (settings, crash records, config.txt, paths) is
// copied into the trace, the Event Log and the doctor's report only in a form that a console,
// a debugger view or an event viewer shows as it stands: every control character, C1 control,
// direction override and byte that is not UTF-8 becomes a visible \xNN (or \u{NNNN}) stand-in,
// so that none can move the cursor, forge a line or reorder what follows. With `percent`, '%'
// becomes \x25 too, since some event viewers expand "%%1" once more.
#include <cstddef>

// Writes the inert form of `text` into `out` (capacity bytes with its terminator), cut at a whole
// stand-in when it does not fit. Returns `out`.
char *inert_text(const char *text, char *out, size_t capacity, bool percent);
