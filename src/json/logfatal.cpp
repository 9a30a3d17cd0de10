// Fatal report for broken invariants in the launcher's utilities.
#include "src/json/logfatal.h"

#include "zeb/log.h"

void util_logfatal(const char *source_path, int32_t line, const char *message) {
  ZEB_LogFatal("util_logfatal", "%s line %d: %s", source_path ? source_path : "",
               static_cast<int>(line), message ? message : "");
}
