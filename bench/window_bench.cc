// Check of a large table in the window against the console host, measured
// in one run on the same table:
//   console: the check through kxtable's ConsoleHost, its log written to
//            /dev/null (what `kxtable check` does);
//   window:  a press on Check in frmKXCheck on Qt's offscreen platform, the
//            log mirrored into the results box, events pumped during the
//            scan.
// Both run in this process on the same table, the files in the page cache
// (one warm-up check first). Rounds alternate console and window; the best
// wall time of each is compared.
//
//   window_bench [--dir D] [--records N] [--rounds R] [--damage F]
//
// The table is made by `kxtable sample` with a fraction F (0.01) of damaged
// records, so that the results log fills up to its cap as in real use.
//
// Prints one line per measurement and the ratio, and exits 1 when the window
// takes more than 1.2 times the console's time. Ends itself after 10 minutes.
#include <unistd.h>

#include <QApplication>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "adapter/engine_operations.h"
#include "bench/support/child_process.h"
#include "bench/support/flags.h"
#include "bench/support/work_dir.h"
#include "core/operations.h"
#include "tools/kxtable/console_host.h"
#include "ui/frm_kxcheck.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kLimit = 1.2;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double ConsoleCheck(const std::string& table, std::FILE* sink) {
  kxtable::ConsoleOptions options;
  options.progress = false;
  options.stop_on_signal = false;
  options.out = sink;
  options.err = sink;
  kxtable::ConsoleHost host(options);
  Clock::time_point start = Clock::now();
  kxcheck::Outcome outcome = adapter::CheckEngineTable(table, host);
  host.Finish();
  double seconds = Since(start);
  if (outcome != kxcheck::Outcome::kCompleted) {
    std::fprintf(stderr, "console check did not complete\n");
    std::exit(2);
  }
  return seconds;
}

double WindowCheck(frmKXCheck& window, const std::string& table) {
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(table))});
  window.txtFilename_OLEDragDrop(data);
  Clock::time_point start = Clock::now();
  window.cmdCheck->click();
  double seconds = Since(start);
  const std::string& log = window.Host().Log().Text();
  if (log.size() < 30 || log.compare(log.size() - 29, 29,
                                     "*** Processing Complete ***\r\n") != 0) {
    std::fprintf(stderr, "window check did not complete\n");
    std::exit(2);
  }
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  alarm(600);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  const kxbench::Flags flags(argc, argv,
                             {"--dir", "--records", "--rounds", "--damage"});
  std::string dir = flags.Text("--dir");
  const int records = static_cast<int>(flags.Number("--records", 1000000));
  const int rounds = static_cast<int>(flags.Number("--rounds", 11));
  const std::string damage = flags.Text("--damage", "0.01");
  int qt_argc = 1;
  QApplication app(qt_argc, argv);

  const bool own_dir = kxbench::MakeWorkDir(dir, "window_bench");
  fs::create_directories(dir);
  std::string table = dir + "/bench.kxt";
  kxbench::MustRun({KXTABLE_PATH, "sample", table, "--records",
                    std::to_string(records), "--seed", "7", "--damage", damage,
                    "--force"});

  std::FILE* sink = std::fopen("/dev/null", "w");
  frmKXCheck window;
  window.Form_Load();
  window.show();
  QApplication::processEvents();

  ConsoleCheck(table, sink);  // warm-up: files into the page cache
  double best_console = 1e9;
  double best_window = 1e9;
  for (int r = 0; r < rounds; ++r) {
    double c = ConsoleCheck(table, sink);
    double w = WindowCheck(window, table);
    std::printf("round %d: console %.3f s, window %.3f s\n", r + 1, c, w);
    best_console = std::min(best_console, c);
    best_window = std::min(best_window, w);
  }
  double ratio = best_window / best_console;
  std::printf("check of %d records: console host %.3f s, window %.3f s\n",
              records, best_console, best_window);
  std::printf("window / console = %.3f (limit %.1f): %s\n", ratio, kLimit,
              ratio <= kLimit ? "ok" : "MISSED");
  std::fclose(sink);
  if (own_dir) fs::remove_all(dir);
  return ratio <= kLimit ? 0 : 1;
}
