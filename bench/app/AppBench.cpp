// Loading a large store into the main window, against the reader alone;
// repainting a page of the list; opening the data window on a 10 MB message.
//
//   AppBench [STORE.dbx] [--messages N]   (default: a generated store of 100000 messages)
#include "DbxReader.h"
#include "Main.h"
#include "MessageListModel.h"
#include "QtRowTexts.h"
#include "StoreWriter.h"
#include "View.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTreeView>

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace postvue;

namespace {
class TBenchWindow : public Twnd_oe_Main {
public:
  using Twnd_oe_Main::Twnd_oe_Main;
  QString Path;

protected:
  QString RunOpenDialog() override { return Path; }
  void ShowErrorBox(const QString& text) override { std::printf("error box: %s\n", qPrintable(text)); }
};

double Ms(const QElapsedTimer& clock) { return static_cast<double>(clock.nsecsElapsed()) / 1e6; }

std::string GenerateStore(const testing::TTempDir& dir, int count) {
  std::vector<testing::TTestMessage> messages(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    auto& m = messages[static_cast<std::size_t>(i)];
    m.Subject = "Re: weekly status report number " + std::to_string(i);
    m.SenderName = (i % 3 == 0) ? std::string() : "Sender Name " + std::to_string(i % 977);
    m.SenderAddress = "sender" + std::to_string(i % 977) + "@example.org";
    m.Flags = (i % 5 == 0) ? 0x4000u : 0x80u;
    m.Priority = (i % 7 == 0) ? 1 : 3;
    m.Received = testing::FileTimeOf(2000 + i % 8, 1 + i % 12, 1 + i % 28, i % 24, i % 60, i % 59);
    m.Text = "Subject: " + m.Subject + "\r\n\r\nbody\r\n";
  }
  const std::string path = dir / "bench.dbx";
  testing::MakeDbx(messages).WriteFile(path);
  return path;
}

void ReaderAlone(const std::string& path, const char* label) {
  QElapsedTimer clock;
  clock.start();
  TDBXReader reader;
  reader.SetFileName(path);
  reader.Load();
  std::printf("  reader Open+Load (%s): %9.1f ms, %d messages\n", label, Ms(clock), reader.GetCount());
}
} // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  std::string path;
  int count = 100000;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--messages" && i + 1 < argc)
      count = std::atoi(argv[++i]);
    else
      path = arg;
  }
  testing::TTempDir dir;
  if (path.empty()) {
    QElapsedTimer clock;
    clock.start();
    path = GenerateStore(dir, count);
    std::printf("generated %d messages in %s (%.0f ms)\n", count, path.c_str(), Ms(clock));
  }

  std::printf("Load:\n");
  ReaderAlone(path, "first");
  ReaderAlone(path, "again");

  TBenchWindow window(QStringList{"postvue"});
  window.Path = QString::fromStdString(path);
  window.show();
  QCoreApplication::processEvents();
  QElapsedTimer clock;
  clock.start();
  window.mmOpen->trigger(); // LoadFile
  const double load = Ms(clock);
  window.List->viewport()->repaint(); // lays the rows out and paints the first page
  const double ready = Ms(clock);
  std::printf("  window LoadFile:              %9.1f ms, %d rows\n", load, window.List->model()->rowCount());
  std::printf("  LoadFile + first paint:       %9.1f ms\n", ready);
  ReaderAlone(path, "after");

  // The row texts alone, to see where the window's time goes.
  {
    TDBXReader reader;
    reader.SetFileName(path);
    reader.Load();
    const TLocaleFormat format = LocaleFormatOf(QLocale::system());
    TMessageRecord record;
    clock.restart();
    std::uint64_t sizes = 0;
    for (int i = 0; i < reader.GetCount(); ++i) {
      reader.GetMessage(i, record);
      sizes += record.Size;
    }
    std::printf("  GetMessage copies alone:      %9.1f ms (%llu bytes of text)\n", Ms(clock),
                static_cast<unsigned long long>(sizes));
    clock.restart();
    std::size_t total = 0;
    for (int i = 0; i < reader.GetCount(); ++i) {
      reader.GetMessage(i, record);
      total += static_cast<std::size_t>(MakeMessageRow(i, record, format).SubItems[6].size());
    }
    std::printf("  GetMessage + row texts:       %9.1f ms (%zu date chars)\n", Ms(clock), total);
  }

  std::printf("Repaint of one visible page (%dx%d viewport):\n", window.List->viewport()->width(),
              window.List->viewport()->height());
  QScrollBar* bar = window.List->verticalScrollBar();
  bar->setValue(bar->maximum() / 2);
  window.List->viewport()->repaint();
  const int rounds = 100;
  clock.restart();
  for (int i = 0; i < rounds; ++i) window.List->viewport()->repaint();
  std::printf("  repaint in place:             %9.3f ms\n", Ms(clock) / rounds);
  bar->setValue(0);
  window.List->viewport()->repaint();
  clock.restart();
  for (int i = 0; i < rounds; ++i) {
    bar->setValue(bar->value() + bar->pageStep());
    window.List->viewport()->repaint();
  }
  std::printf("  scroll one page + repaint:    %9.3f ms\n", Ms(clock) / rounds);

  // A 10 MB message in the data window: from the call to the first painted page.
  std::string text;
  for (int line = 0; text.size() < 10 * 1024 * 1024; ++line)
    text += "Line " + std::to_string(line) + ": the quick brown fox jumps over the lazy dog, 0123456789 abcdefghij\r\n";
  std::printf("Data window, %.1f MB message:\n", static_cast<double>(text.size()) / (1024 * 1024));
  clock.restart();
  {
    Twnd_oe_View view(&window);
    view.SetText(text);
    const double filled = Ms(clock);
    view.show();
    view.repaint();
    std::printf("  fill Memo:                    %9.1f ms\n", filled);
    std::printf("  fill + show + first paint:    %9.1f ms\n", Ms(clock));
  }
  return 0;
}
