// The box that ends a launch or a recovery.
#include "src/launch/reinstall.h"
#include "src/launch/trace.h"
#include "zeb/log.h"

void refuse_with_box(const char *title) {
  trace_refusal(title);
  ZEB_ErrorBox(title, "%s", REINSTALL_TEXT);
}
