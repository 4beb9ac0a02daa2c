// Micro-benchmarks of the hot library paths: descrambling one catalogue line, loading and
// releasing the catalogue, loading the device file, and dumping the catalogue.
//
// Fixtures are generated at start-up under a fresh directory in /var/tmp (never /tmp, which
// the tool owns) and removed at exit.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>

#include "catalogue/model_list.h"
#include "fixtures.h"
#include "netconfig/scramble.h"
#include "registry/device_registry.h"

namespace {

namespace fs = std::filesystem;
using lumora::testing::keys_for_selector;
using lumora::testing::scramble_line;

class Fixtures {
 public:
  Fixtures() {
    const char* base = std::getenv("LUMORA_BENCH_DIR");
    std::string pattern = std::string(base && *base ? base : "/var/tmp") + "/lumora-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp " + pattern);
    root_ = pattern;
  }
  ~Fixtures() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  Fixtures(const Fixtures&) = delete;
  Fixtures& operator=(const Fixtures&) = delete;

  // Catalogue directory with `lines` model lines; written once per size.
  const std::string& catalogue(int lines) {
    auto found = catalogues_.find(lines);
    if (found != catalogues_.end()) return found->second;
    const std::string dir = root_ + "/catalogue-" + std::to_string(lines);
    lumora::bench::write_catalogue(dir, lines);
    return catalogues_.emplace(lines, dir).first->second;
  }

  // Configuration file with `lines` device lines; written once per size.
  const std::string& devices(int lines) {
    auto found = device_files_.find(lines);
    if (found != device_files_.end()) return found->second;
    const std::string path = root_ + "/devices-" + std::to_string(lines) + ".cfg";
    lumora::bench::write_devices(path, lines);
    return device_files_.emplace(lines, path).first->second;
  }

 private:
  std::string root_;
  std::map<int, std::string> catalogues_;
  std::map<int, std::string> device_files_;
};

Fixtures& fixtures() {
  static Fixtures instance;
  return instance;
}

// A scrambled line of exactly `length` characters, line break included, whose keys pick
// `selector`.
std::string scrambled_of_length(int selector, std::size_t length) {
  std::string plain;
  for (int n = 0; plain.size() < length - 5; ++n) plain += lumora::bench::model_line(n);
  plain.resize(length - 5);
  for (char& c : plain) {
    if (c == '\n') c = ' ';
  }
  plain += '\n';
  std::string line = scramble_line(plain, keys_for_selector(selector));
  if (line.size() != length) throw std::logic_error("scrambled line has the wrong length");
  return line;
}

void BM_DecodeLine(benchmark::State& state) {
  const int selector = static_cast<int>(state.range(0));
  const auto length = static_cast<std::size_t>(state.range(1));
  const std::string original = scrambled_of_length(selector, length);
  char line[1024];  // the catalogue reader's line buffer
  for (auto _ : state) {
    // decode_line works in place, so each round starts from the scrambled text again; the
    // copy is timed too and makes the figure a little pessimistic.
    std::memcpy(line, original.c_str(), length + 1);
    benchmark::DoNotOptimize(lumora::decode_line(line));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(length));
  state.SetLabel("selector " + std::to_string(selector));
}
BENCHMARK(BM_DecodeLine)->ArgsProduct({{0, 1, 2, 3, 4, 5, 6, 7}, {100, 496}});

// Page faults of this process so far. A process reads its lists into fresh heap pages, so
// the first touch of each page is part of what a load costs.
long minor_faults() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

// With the second argument 0 ("heap trimmed"), glibc gives every freed page back between
// rounds, so each round faults its pages in again as a new process would, whatever the size;
// with glibc's default 128 KiB of slack a small list would stay in the heap and look cheaper
// than it is. With 1 ("heap kept"), freed memory stays, which leaves the work of reading and
// parsing.
class HeapMode {
 public:
  explicit HeapMode(bool keep) {
    ::mallopt(M_TRIM_THRESHOLD, keep ? 1 << 30 : 0);
    ::mallopt(M_TOP_PAD, 0);
  }
  ~HeapMode() {
    ::mallopt(M_TRIM_THRESHOLD, 128 * 1024);
    ::mallopt(M_TOP_PAD, 128 * 1024);
  }
  HeapMode(const HeapMode&) = delete;
  HeapMode& operator=(const HeapMode&) = delete;
};

void report_faults(benchmark::State& state, long before) {
  const auto rounds = static_cast<double>(state.iterations() == 0 ? 1 : state.iterations());
  state.counters["faults"] = static_cast<double>(minor_faults() - before) / rounds;
  state.SetLabel(state.range(1) != 0 ? "heap kept" : "heap trimmed");
}

void BM_LoadFreeAdvModels(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  const std::string dir = fixtures().catalogue(lines);
  const std::string models = dir + "/models";
  const std::string default_file = dir + "/Lumsane.ini";
  lumora::free_adv_models();
  const HeapMode heap(state.range(1) != 0);
  const long faults = minor_faults();
  for (auto _ : state) {
    lumora::load_adv_models_from(models.c_str(), default_file.c_str());
    benchmark::DoNotOptimize(root_adv_model);
    lumora::free_adv_models();
  }
  report_faults(state, faults);
  // Make sure the fixture really yields every line as a record.
  lumora::load_adv_models_from(models.c_str(), default_file.c_str());
  int records = 0;
  for (const AdvModel* m = root_adv_model; m != nullptr; m = m->next) ++records;
  lumora::free_adv_models();
  if (records != lines) state.SkipWithError("catalogue fixture yields the wrong record count");
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * lines);
}
BENCHMARK(BM_LoadFreeAdvModels)
    ->ArgsProduct({{1000, 10000, 100000}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

void BM_LoadFreeNetDevices(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  const std::string path = fixtures().devices(lines);
  lumora::free_net_devices();
  const HeapMode heap(state.range(1) != 0);
  const long faults = minor_faults();
  for (auto _ : state) {
    const std::int32_t loaded = lumora::load_net_devices_from(path.c_str());
    benchmark::DoNotOptimize(loaded);
    lumora::free_net_devices();
    if (loaded != lines) {
      state.SkipWithError("device fixture yields the wrong entry count");
      break;
    }
  }
  report_faults(state, faults);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * lines);
}
BENCHMARK(BM_LoadFreeNetDevices)
    ->ArgsProduct({{10, 1000, 10000}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

// One plain model line parsed into a record, without the file reading around it. The records
// are freed every 1,000 lines so the list stays small.
void BM_ParseModelLine(benchmark::State& state) {
  const std::string text = lumora::bench::model_line(4242);
  char line[1024];
  lumora::free_adv_models();
  int parsed = 0;
  for (auto _ : state) {
    std::memcpy(line, text.c_str(), text.size() + 1);
    lumora::parse_adv_model(line);
    if (++parsed == 1000) {
      lumora::free_adv_models();
      parsed = 0;
    }
  }
  if (root_adv_model != nullptr && std::strcmp(root_adv_model->name, "\"LX-4242Series\"") != 0) {
    state.SkipWithError("the model line parsed to the wrong name");
  }
  lumora::free_adv_models();
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ParseModelLine);

// One device line as the add command writes it: widened, told apart and scanned.
void BM_ScanDeviceLine(benchmark::State& state) {
  const std::string text = lumora::bench::device_line(4242);
  char line[lumora::kDeviceLineBufferSize];
  lumora::DeviceEntry entry{};
  for (auto _ : state) {
    std::memcpy(line, text.c_str(), text.size() + 1);
    lumora::widen_commas(line);
    if (lumora::classify_device_line(line) == lumora::DeviceLineKind::kDevice) {
      lumora::scan_device_line(line, entry);
    }
    benchmark::DoNotOptimize(entry);
  }
  if (std::strcmp(entry.name, "office-4242") != 0) state.SkipWithError("the device line scanned wrong");
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ScanDeviceLine);

// The level-3 diagnosis prints the whole catalogue; stdout goes to /dev/null around the timed
// rounds, fully buffered as it is for the tool when its output is not a terminal.
void BM_DumpAdvModels(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  const std::string dir = fixtures().catalogue(lines);
  lumora::free_adv_models();
  lumora::load_adv_models_from((dir + "/models").c_str(), (dir + "/Lumsane.ini").c_str());
  std::fflush(stdout);
  const int saved = ::dup(STDOUT_FILENO);
  if (saved < 0 || std::freopen("/dev/null", "w", stdout) == nullptr) {
    state.SkipWithError("cannot redirect standard output");
    return;
  }
  for (auto _ : state) {
    lumora::dump_adv_models();
    std::fflush(stdout);
  }
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  std::clearerr(stdout);
  lumora::free_adv_models();
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * lines);
}
BENCHMARK(BM_DumpAdvModels)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // Every fixture is written before the first timing, so none of that work lands in one.
  for (const int lines : {1000, 10000, 100000}) fixtures().catalogue(lines);
  for (const int lines : {10, 1000, 10000}) fixtures().devices(lines);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
