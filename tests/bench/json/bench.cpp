// Parse and serialize throughput of the JSON documents, with RapidJSON and nlohmann::json
// measured in the same run as the baseline. Prints MB/s (input bytes per second, 10^6 bytes),
// the ratio of this library's speed to each peer's, and the arena bytes per input byte.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "src/json/json.h"

#if QUARLO_BENCH_PEERS
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <nlohmann/json.hpp>
#endif

namespace {

using Clock = std::chrono::steady_clock;

// Reads the file into a string sized once, so that no freed buffer is left for the cold parses
// to reuse.
bool read_file(const std::string &path, std::string *out) {
  FILE *file = fopen(path.c_str(), "rb");
  if (!file) return false;
  bool ok = fseek(file, 0, SEEK_END) == 0;
  const long size = ok ? ftell(file) : -1;
  ok = size >= 0 && fseek(file, 0, SEEK_SET) == 0;
  if (ok) {
    out->resize(static_cast<size_t>(size));
    ok = fread(out->data(), 1, out->size(), file) == out->size();
  }
  fclose(file);
  return ok;
}

// CPU time of the calling thread where the platform has it: the machine is shared, and wall
// time would measure the neighbours too. Page faults count (they are system time of the thread).
// Windows (and Wine) count thread time in scheduler ticks, too coarse for one run: wall time there.
double now_seconds() {
#if defined(CLOCK_THREAD_CPUTIME_ID) && !defined(_WIN32)
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
#else
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
#endif
}

// Seconds per run: the fastest of repeated runs, at least 5 and about half a second in all.
template <typename Run>
double best_seconds(Run run) {
  double best = 1e30;
  const double start = now_seconds();
  for (int i = 0; i < 5 || now_seconds() - start < 0.5; ++i) {
    const double t0 = now_seconds();
    run();
    const double s = now_seconds() - t0;
    if (s < best) best = s;
  }
  return best;
}

volatile size_t sink;  // keeps results observable so that no run is optimised away

struct Row {
  double parse_mbs;
  double write_mbs;
  double parse_cold_mbs;  // this library only: one parse into memory the process never had
  double parse_kept_mbs;  // this library only: parsing into an arena that has already grown
};

json_ref parse_or_exit(const char *begin, const char *end) {
  json_ref root = json_create();
  if (!json_parse(root, begin, end)) {
    fprintf(stderr, "parse failed: %.*s\n", int(root.doc->error.length), root.doc->error.data);
    exit(1);
  }
  return root;
}

// MB/s of one parse of each text, before anything has been freed in the process: every arena
// grows into fresh pages from the system. The documents stay alive until all are parsed, so that
// no later file reuses an earlier one's memory.
std::vector<double> measure_cold(const std::vector<std::string> &texts) {
  std::vector<double> mbs;
  std::vector<json_ref> roots;
  for (const std::string &text : texts) {
    const double t0 = now_seconds();
    roots.push_back(parse_or_exit(text.data(), text.data() + text.size()));
    mbs.push_back(text.size() / 1e6 / (now_seconds() - t0));
  }
  for (json_ref root : roots) json_destroy(root);
  return mbs;
}

Row measure_quarlo(const std::string &text, double *arena_used, double *arena_capacity) {
  const char *begin = text.data();
  const char *end = begin + text.size();
  const double mb = text.size() / 1e6;
  Row row = {};
  // Warm: glibc hands a freed arena (below its 32 MB mmap threshold) to the next document.
  row.parse_mbs = mb / best_seconds([&] {
                    json_ref root = parse_or_exit(begin, end);
                    sink = root.doc->used;
                    json_destroy(root);
                  });
  // The same parse into one document whose arena has already grown: what is left is the parser
  // itself and the zero-filling of tables and blocks, without fresh pages from the system.
  json_ref kept = json_create();
  json_parse(kept, begin, end);
  row.parse_kept_mbs = mb / best_seconds([&] {
                         kept.doc->used = sizeof(json_cell);
                         memset(kept.doc->arena, 0, sizeof(json_cell));
                         if (!json_parse(kept, begin, end)) exit(1);
                         sink = kept.doc->used;
                       });
  json_destroy(kept);

  json_ref root = json_create();
  json_parse(root, begin, end);
  *arena_used = double(root.doc->used) / text.size();
  *arena_capacity = double(root.doc->capacity) / text.size();
  row.write_mbs = mb / best_seconds([&] {
                    json_writer writer = {};
                    if (!json_serialize(&writer, root)) exit(1);
                    sink = writer.text.length;
                    free(writer.text.data);
                  });
  json_destroy(root);
  return row;
}

#if QUARLO_BENCH_PEERS
Row measure_rapidjson(const std::string &text) {
  const double mb = text.size() / 1e6;
  Row row = {};
  row.parse_mbs = mb / best_seconds([&] {
                    rapidjson::Document document;
                    document.Parse(text.data(), text.size());
                    if (document.HasParseError()) exit(1);
                    sink = document.MemberCount();
                  });
  rapidjson::Document document;
  document.Parse(text.data(), text.size());
  row.write_mbs = mb / best_seconds([&] {
                    rapidjson::StringBuffer buffer;
                    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
                    document.Accept(writer);
                    sink = buffer.GetSize();
                  });
  return row;
}

Row measure_nlohmann(const std::string &text) {
  const double mb = text.size() / 1e6;
  Row row = {};
  row.parse_mbs = mb / best_seconds([&] {
                    const auto document = nlohmann::json::parse(text);
                    sink = document.size();
                  });
  const auto document = nlohmann::json::parse(text);
  row.write_mbs = mb / best_seconds([&] { sink = document.dump().size(); });
  return row;
}
#endif

}  // namespace

int main(int argc, char **argv) {
  const std::string directory = argc > 1 ? argv[1] : QUARLO_BENCH_DATA;
  const char *const files[] = {"twitter.json", "citm_catalog.json", "canada.json"};
  std::vector<std::string> texts(3);
  for (int i = 0; i < 3; ++i) {
    if (!read_file(directory + "/" + files[i], &texts[i])) {
      fprintf(stderr, "cannot read %s/%s\n", directory.c_str(), files[i]);
      return 1;
    }
  }
  // First, before any other allocation is freed.
  const std::vector<double> cold = measure_cold(texts);
  printf(
      "MB/s of input; ratios are this library's warm speed over the peer's; arena bytes per input "
      "byte\nas used (and as allocated). 'cold' is the first parse of the file in the process (one "
      "run),\n'warm' the best of repeated parses into new documents, 'kept' into an arena that "
      "has already grown.\n\n");
  printf("%-18s | %-43s | %-13s | %-26s | %-13s | %s\n", "", "parse MB/s", "parse ratio",
         "write MB/s", "write ratio", "arena / byte");
  printf("%-18s | %7s %7s %7s %9s %9s | %6s %6s | %8s %8s %8s | %6s %6s |\n", "file", "cold",
         "warm", "kept", "rapidjson", "nlohmann", "rapid", "nloh", "ours", "rapid", "nlohmann",
         "rapid", "nloh");
  for (int i = 0; i < 3; ++i) {
    const std::string &text = texts[i];
    double used = 0, capacity = 0;
    Row ours = measure_quarlo(text, &used, &capacity);
    ours.parse_cold_mbs = cold[i];
#if QUARLO_BENCH_PEERS
    const Row rapid = measure_rapidjson(text);
    const Row nloh = measure_nlohmann(text);
#else
    const Row rapid = {}, nloh = {};
#endif
    auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    printf(
        "%-18s | %7.1f %7.1f %7.1f %9.1f %9.1f | %6.3f %6.3f | %8.1f %8.1f %8.1f | %6.3f %6.3f | "
        "%.1f (%.1f)\n",
        files[i], ours.parse_cold_mbs, ours.parse_mbs, ours.parse_kept_mbs, rapid.parse_mbs,
        nloh.parse_mbs, ratio(ours.parse_mbs, rapid.parse_mbs),
        ratio(ours.parse_mbs, nloh.parse_mbs), ours.write_mbs, rapid.write_mbs, nloh.write_mbs,
        ratio(ours.write_mbs, rapid.write_mbs), ratio(ours.write_mbs, nloh.write_mbs), used,
        capacity);
  }
  return 0;
}
