// Throughput of the settings reader on the JSON files named on the command line.
// Each parse is timed alone (destruction is timed separately); the best of the rounds is kept.
// The baseline is one strlen over the same text, the reader's own first step.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "zeb/json_reader.h"

namespace {

using Clock = std::chrono::steady_clock;

bool read_all(const char *path, std::string *text) {
  FILE *file = fopen(path, "rb");
  if (!file) return false;
  char chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) text->append(chunk, n);
  fclose(file);
  return true;
}

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s file.json...\n", argv[0]);
    return 2;
  }
  printf("%-20s %10s %12s %12s %12s %8s\n", "file", "bytes", "parse MB/s", "destroy MB/s",
         "strlen MB/s", "ratio");
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    std::string text;
    if (!read_all(argv[i], &text)) {
      fprintf(stderr, "cannot read %s\n", argv[i]);
      status = 1;
      continue;
    }
    const double megabytes = double(text.size()) / 1e6;
    double best_parse = 1e9, best_destroy = 1e9, best_scan = 1e9;
    size_t sink = 0;
    const Clock::time_point begin = Clock::now();
    int rounds = 0;
    while (rounds < 5 || (seconds_since(begin) < 2.0 && rounds < 1000)) {
      Clock::time_point start = Clock::now();
      ZEB_JSON *root = ZEB_JSONParse(text.c_str());
      best_parse = std::min(best_parse, seconds_since(start));
      if (!root) {
        fprintf(stderr, "%s does not parse\n", argv[i]);
        return 1;
      }
      start = Clock::now();
      ZEB_JSONDestroy(&root);
      best_destroy = std::min(best_destroy, seconds_since(start));
      start = Clock::now();
      sink += strlen(text.c_str() + (rounds & 1));
      best_scan = std::min(best_scan, seconds_since(start));
      ++rounds;
    }
    const char *name = strrchr(argv[i], '/');
    printf("%-20s %10zu %12.1f %12.1f %12.1f %8.4f\n", name ? name + 1 : argv[i], text.size(),
           megabytes / best_parse, megabytes / best_destroy, megabytes / best_scan,
           best_scan / best_parse);
    if (sink == 0) printf("(empty)\n");
  }
  return status;
}
