// Loading a large store into the native Windows viewer's main window, until
// its list is painted, against the reader's Open+Load alone, in the same run.
//
//   WindowBench STORE
#include "DbxReader.h"
#include "Main.h"
#include "MbxReader.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

using namespace postvue;

namespace {
class TBenchRunner : public TDialogRunner {
public:
  std::wstring Path;
  bool RunFileDialog(OPENFILENAMEW& dialog, bool) override {
    Path.copy(dialog.lpstrFile, dialog.nMaxFile - 1);
    dialog.lpstrFile[std::min<std::size_t>(Path.size(), dialog.nMaxFile - 1)] = L'\0';
    return true;
  }
  void ShowErrorBox(HWND, const std::wstring& text, const std::wstring&) override {
    std::printf("error box: %s\n", Utf8(text).c_str());
  }
};

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double ReaderAlone(const std::string& path) {
  const auto start = std::chrono::steady_clock::now();
  std::unique_ptr<TMailbaseReader> reader;
  {
    TMailbaseReader probe;
    probe.SetFileName(path);
    if (probe.Format == sfMBX)
      reader = std::make_unique<TMBXReader>();
    else
      reader = std::make_unique<TDBXReader>();
  }
  reader->SetFileName(path);
  reader->Load();
  const double ms = Since(start);
  std::printf("  reader Open+Load:             %9.1f ms, %d messages\n", ms, reader->GetCount());
  return ms;
}
} // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: WindowBench STORE\n");
    return 2;
  }
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  const std::string path = Utf8(argv[1]);
  TBenchRunner runner;
  runner.Path = argv[1];
  SetDialogRunner(&runner);

  std::printf("Load of %s:\n", path.c_str());
  const double first = ReaderAlone(path);
  Twnd_oe_Main window({L"postvue.exe"});
  window.Show(SW_SHOWNORMAL);
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);

  const auto start = std::chrono::steady_clock::now();
  SendMessageW(window.Handle, WM_COMMAND, IDM_OPEN, 0); // LoadFile
  const double load = Since(start);
  UpdateWindow(window.List); // the list paints its first page
  const double painted = Since(start);
  const double again = ReaderAlone(path);
  const double alone = std::min(first, again);
  std::printf("  window LoadFile:              %9.1f ms, %d rows\n", load,
              static_cast<int>(SendMessageW(window.List, LVM_GETITEMCOUNT, 0, 0)));
  std::printf("  LoadFile + painted list:      %9.1f ms\n", painted);
  std::printf("  ratio to the reader alone:    %9.2f\n", painted / alone);
  SetDialogRunner(nullptr);
  return 0;
}
