#include "src/launcher.h"

int32_t launcher_main(int32_t count, char **list) {
  (void)count;
  (void)list;
  return 0;
}
