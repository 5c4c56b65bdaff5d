// The log list with very many lines, as a verify of a big image against an
// erased chip produces: adds 1,000,000 lines through the main window and
// shows the last one, then saves them with Save Log. The save is compared
// with writing the same bytes with one fwrite in the same run, alone and
// followed by fsync (QSaveFile syncs the file before it replaces the old one).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include <QApplication>
#include <QListView>
#include <QTemporaryDir>

#include "ui/QuarnelDlg.h"
#include "testing/FakeApi.h"
#include "testing/MemorySettings.h"
#include "testing/ScriptedPrompter.h"

namespace {

constexpr int kLines = 1000000;

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> value;
      return value;
    }
    status.ignore(4096, '\n');
  }
  return 0;
}

std::string LineText(int i) {
  char text[64];
  std::snprintf(text, sizeof text, "Address %05XH  File data %02XH  Flash data FFH", i, i & 0xFF);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication application(argc, argv);
  QTemporaryDir dir;
  qputenv("XDG_RUNTIME_DIR", dir.path().toUtf8());
  qputenv("QUARNEL_LOCK_DIR", dir.path().toUtf8());

  quarnel::testing::FakeApi api;
  api.connectResult = 0;  // the window opens unplugged
  api.AddDescription("KT51456", {{0x0000, 0x7FFF}, {0x10000, 0x1FFFF}}, 0x800);
  quarnel::testing::MemorySettings settings;
  quarnel::testing::ScriptedPrompter prompter;
  quarnel::CQuarnelDlg window(api, settings, prompter, QStringLiteral("1.00"));
  window.Initialise();
  window.show();
  QApplication::processEvents();

  const long before = ResidentKiB();
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kLines; ++i) window.AddLogLine(quarnel::SessionEvent::kErrorLine, LineText(i));
  QApplication::processEvents();  // scrolls and paints the last row
  const double addSeconds = Seconds(start);
  const long extraKiB = ResidentKiB() - before;

  auto* view = static_cast<QListView*>(window.Control(quarnel::ctl::kLogList));
  const QModelIndex last = view->model()->index(kLines - 1, 0);
  const bool lastShown = view->viewport()->rect().intersects(view->visualRect(last));

  const QString logPath = dir.filePath(QStringLiteral("bench.log"));
  start = std::chrono::steady_clock::now();
  const bool saved = window.Log().Save(logPath);
  const double saveSeconds = Seconds(start);

  std::string bytes;
  for (int row = 0; row < window.Log().rowCount(); ++row) bytes += window.Log().Line(row).toStdString() + "\r\n";
  const std::string rawPath = dir.filePath(QStringLiteral("fwrite.log")).toStdString();
  start = std::chrono::steady_clock::now();
  FILE* raw = std::fopen(rawPath.c_str(), "wb");
  bool written = raw && std::fwrite(bytes.data(), 1, bytes.size(), raw) == bytes.size() && std::fflush(raw) == 0;
  const double fwriteSeconds = Seconds(start);
  written = written && fsync(fileno(raw)) == 0;
  const double fsyncSeconds = Seconds(start);
  if (raw) std::fclose(raw);

  std::printf("log list: %d lines added and the last shown in %.3f s (%s), %.1f MB extra resident memory\n", kLines,
              addSeconds, lastShown ? "visible" : "NOT visible", extraKiB / 1024.0);
  std::printf("save log: %.1f MB in %.3f s (%s); one fwrite of the same bytes: %.3f s, with fsync %.3f s (%s);"
              " ratio to fwrite + fsync %.2f\n",
              bytes.size() / 1e6, saveSeconds, saved ? "ok" : "FAILED", fwriteSeconds, fsyncSeconds,
              written ? "ok" : "FAILED", saveSeconds / fsyncSeconds);
  return saved && written && lastShown ? 0 : 1;
}
