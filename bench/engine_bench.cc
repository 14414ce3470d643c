// Engine speed and memory against plain file I/O, measured in one run:
//   read:   1,000,000 records of 64 bytes through GoToRecord + RecordBuffer +
//           Deleted, against a read() loop over the same two files (processor
//           time, the files being in the page cache);
//   append: 1,000,000 records through SetRecordBuffer + AppendRecord + Close,
//           against fwrite of the same bytes (both made durable with fsync,
//           and also without it);
//   memory: peak resident memory of a child that writes and then reads a
//           table of 100,000 and of 10,000,000 records.
// Each timing is the best of several interleaved rounds, so that other work
// on the machine disturbs it as little as possible.
//
//   engine_bench [--dir D] [--rounds R] [--records N] [--big-records M]
//
// Prints one line per measurement and exits 1 when a ratio is over its limit.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/support/child_process.h"
#include "bench/support/flags.h"
#include "bench/support/work_dir.h"
#include "engine/record_codec.h"
#include "engine/record_table.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kRecordLength = 64;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Processor time of this process: reads from the page cache are pure
// processor work, and unlike wall time it does not count the time other
// programs on a busy machine hold the processor.
double CpuNow() {
  struct timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

kalvex::TableLayout BenchLayout() {
  return kalvex::TableLayout{{{"payload", kRecordLength - 17}}};
}

std::string RecordFor(int64_t i) {
  std::string r(kRecordLength, '\0');
  std::snprintf(r.data(), r.size(), "%c24-01-01%02d:%02d:%02d#%lld",
                kalvex::PackCentury('2', '0'),
                static_cast<int>((i / 3600) % 24),
                static_cast<int>(i / 60 % 60), static_cast<int>(i % 60),
                static_cast<long long>(i));
  return r;
}

// Writes a table through the engine; returns the seconds taken.
double EngineAppend(const std::string& kxt, int64_t records) {
  kxbench::RemoveTable(kxt);
  std::string record = RecordFor(0);
  auto start = Clock::now();
  kalvex::RecordTable::CreateDefinition(kxt, BenchLayout(), true);
  kalvex::RecordTable t;
  t.SetAccessMode(kalvex::kAppend);
  t.Open(kxt);
  for (int64_t i = 0; i < records; ++i) {
    record[20] = static_cast<char>(i);
    t.SetRecordBuffer(record);
    t.AppendRecord(0);
  }
  t.Close();
  return Seconds(start);
}

// The same bytes with stdio: the records into one file, a zero byte per
// record into another.
double PlainAppend(const std::string& dir, int64_t records, bool sync) {
  std::string record = RecordFor(0);
  std::string data = dir + "/plain.dat";
  std::string attr = dir + "/plain.att";
  auto start = Clock::now();
  FILE* d = std::fopen(data.c_str(), "wb");
  FILE* a = std::fopen(attr.c_str(), "wb");
  if (d == nullptr || a == nullptr) std::abort();
  for (int64_t i = 0; i < records; ++i) {
    record[20] = static_cast<char>(i);
    std::fwrite(record.data(), 1, record.size(), d);
    std::fputc(0, a);
  }
  std::fflush(d);
  std::fflush(a);
  if (sync) {
    ::fsync(fileno(d));
    ::fsync(fileno(a));
  }
  std::fclose(d);
  std::fclose(a);
  return Seconds(start);
}

// Reads every record and its mark; the checksum keeps the work honest.
double EngineRead(const std::string& kxt, uint64_t& sum) {
  double start = CpuNow();
  kalvex::RecordTable t;
  t.Open(kxt);
  int32_t n = t.RecordCount();
  for (int32_t i = 1; i <= n; ++i) {
    t.GoToRecord(i);
    const std::string_view b = t.RecordBuffer();
    sum += static_cast<unsigned char>(b[20]) + (t.Deleted() ? 1 : 0);
  }
  t.Close();
  return CpuNow() - start;
}

void PlainReadFile(const std::string& path, std::vector<char>& buffer,
                   uint64_t& sum) {
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) std::abort();
  for (;;) {
    ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n <= 0) break;
    sum += static_cast<unsigned char>(buffer[0]);
  }
  ::close(fd);
}

double PlainRead(const std::string& kxt, size_t buffer_size, uint64_t& sum) {
  std::string base = fs::path(kxt).replace_extension().string();
  std::vector<char> buffer(buffer_size);
  double start = CpuNow();
  PlainReadFile(base + ".kxd", buffer, sum);
  PlainReadFile(base + ".kxa", buffer, sum);
  return CpuNow() - start;
}

// Child process: write and read a table of `records`; the parent reads its
// peak resident memory from wait4.
int RunMemoryChild(const std::string& dir, int64_t records) {
  std::string kxt = dir + "/memory.kxt";
  EngineAppend(kxt, records);
  uint64_t sum = 0;
  EngineRead(kxt, sum);
  kxbench::RemoveTable(kxt);
  return sum == 0 ? 1 : 0;
}

long PeakRssKb(const std::string& self, const std::string& dir,
               int64_t records) {
  return kxbench::MustRun(
             {self, "--memory-child", std::to_string(records), "--dir", dir})
      .max_rss_kb;
}

}  // namespace

int main(int argc, char** argv) {
  const kxbench::Flags flags(
      argc, argv,
      {"--dir", "--rounds", "--records", "--big-records", "--memory-child"});
  std::string dir = flags.Text("--dir");
  const int rounds = std::max<int>(1, flags.Number("--rounds", 5));
  const int64_t records = flags.Number("--records", 1000000);
  const int64_t big = flags.Number("--big-records", 10000000);
  const int64_t memory_child = flags.Number("--memory-child", -1);
  const bool own_dir = kxbench::MakeWorkDir(dir, "kxbench");
  if (memory_child >= 0) return RunMemoryChild(dir, memory_child);

  std::string kxt = dir + "/bench.kxt";
  std::printf(
      "Kalvex engine against plain file I/O (%lld records of %u bytes, "
      "best of %d rounds)\n",
      static_cast<long long>(records), kRecordLength, rounds);

  // Appends.
  double engine_append = 1e9, plain_sync = 1e9, plain_nosync = 1e9;
  for (int r = 0; r < rounds; ++r) {
    engine_append = std::min(engine_append, EngineAppend(kxt, records));
    plain_sync = std::min(plain_sync, PlainAppend(dir, records, true));
    plain_nosync = std::min(plain_nosync, PlainAppend(dir, records, false));
  }

  // Sequential reads (the table is in the page cache after the appends).
  uint64_t sum = 0;
  double engine_read = 1e9, plain_read_64k = 1e9, plain_read_1m = 1e9;
  for (int r = 0; r < 3 * rounds; ++r) {
    engine_read = std::min(engine_read, EngineRead(kxt, sum));
    plain_read_64k = std::min(plain_read_64k, PlainRead(kxt, 64 << 10, sum));
    plain_read_1m = std::min(plain_read_1m, PlainRead(kxt, 1 << 20, sum));
  }
  double plain_read = std::min(plain_read_64k, plain_read_1m);

  const struct {
    const char* what;
    double seconds;
  } times[] = {{"read: engine GoToRecord+RecordBuffer+Deleted", engine_read},
               {"read: plain read() loop, 64 KiB buffer", plain_read_64k},
               {"read: plain read() loop, 1 MiB buffer", plain_read_1m},
               {"append: engine AppendRecord + Close", engine_append},
               {"append: plain fwrite + fsync", plain_sync},
               {"append: plain fwrite, no fsync", plain_nosync}};
  for (const auto& t : times) {
    std::printf("%-46s %9.2f ms\n", t.what, t.seconds * 1e3);
  }

  std::string self = fs::read_symlink("/proc/self/exe").string();
  long small_rss = PeakRssKb(self, dir, 100000);
  long big_rss = PeakRssKb(self, dir, big);
  std::printf("%-46s %9ld KiB\n", "memory: peak RSS, 100,000 records",
              small_rss);
  std::printf("%-46s %9ld KiB\n", "memory: peak RSS, big table", big_rss);

  double read_ratio = engine_read / plain_read;
  double append_ratio = engine_append / plain_sync;
  double append_ratio_nosync = engine_append / plain_nosync;
  long rss_growth = big_rss - small_rss;
  bool ok = read_ratio <= 1.5 && append_ratio <= 2.0 && rss_growth <= 10 * 1024;
  std::printf(
      "\nRATIO read   engine / fastest plain read()  = %.2f  (limit 1.50)\n",
      read_ratio);
  std::printf(
      "RATIO append engine / fwrite+fsync          = %.2f  (limit 2.00)\n",
      append_ratio);
  std::printf("      append engine / fwrite without fsync  = %.2f\n",
              append_ratio_nosync);
  std::printf(
      "MEMORY %lld records - 100,000 records       = %ld KiB (limit 10240)\n",
      static_cast<long long>(big), rss_growth);
  std::printf("%s (checksum %llu)\n", ok ? "PASS" : "FAIL",
              static_cast<unsigned long long>(sum));

  if (own_dir) fs::remove_all(dir);
  return ok ? 0 : 1;
}
