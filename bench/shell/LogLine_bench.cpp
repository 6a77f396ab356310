// Logs 100,000 three-line warning records, headless (box text to standard
// output, sent to /dev/null) and with the main window shown on the offscreen
// platform, and prints the median time of each over several runs.
//
//   LogLine_bench [RUNS]
#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "shell/Records.h"
#include "shell/cSettings.h"
#include "shell/mError.h"
#include "shell/window/frmMain.h"

using namespace ketch;

namespace {

constexpr int kWarnings = 100000;

double LogWarnings(const std::string& folder) {
  std::filesystem::remove(folder + "/ketch.log");
  SectionRecord r;
  r.File = "C:\\Games\\Vandrel\\DATA\\EQUIPMENT\\weapon_equip.ini";
  r.SectionName = "Gun";
  r.LineNo = 1200;
  for (int i = 1; i <= 8; ++i) {
    r.EntryNames[i] = "hp_gun_type";
    r.EntryValues[i] = "hp_gun_special_" + std::to_string(i) + ", 12, 0.500000";
  }
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kWarnings; ++i) LogWarning(r, 10205, static_cast<int16_t>(1 + i % 8));
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  std::string folder = std::filesystem::temp_directory_path() / "ketch-logline-bench";
  std::filesystem::create_directories(folder);
  cSettings settings;
  settings.LogPath(folder);
  SetSettings(&settings);

  FILE* sink = std::fopen("/dev/null", "w");
  LogView headless;
  headless.Append = [sink](const std::string& text) { std::fwrite(text.data(), 1, text.size(), sink); };
  std::vector<double> plain, windowed;
  for (int i = 0; i < runs; ++i) {
    SetLogView(headless);
    plain.push_back(LogWarnings(folder));
    frmMain window;
    window.InstallLogView();
    window.show();
    QApplication::processEvents();
    windowed.push_back(LogWarnings(folder));
    SetLogView(LogView{});
  }
  std::printf("LogLine, %d warnings, median of %d runs: headless %.3f s, window %.3f s, ratio %.2f\n",
              kWarnings, runs, Median(plain), Median(windowed), Median(windowed) / Median(plain));
  SetSettings(nullptr);
  std::filesystem::remove_all(folder);
  return 0;
}
