// One very large message: how long reading its text and saving it take.
//
//   TextBench [--mb M] [--rounds K]     (M defaults to 10, K to 5)
//
// Writes a .dbx (the text in 512-byte blocks, 20480 of them for 10 MB) and
// an .mbx holding one message of M MB into a temporary folder, then times
// GetMessageText, GetMessageHeader and SaveMessageText (the viewer's Save)
// on each. The text must come back whole, in well under a second.
#include "BenchSupport.h"
#include "DbxReader.h"
#include "MbxReader.h"
#include "MessageFile.h"
#include "StoreWriter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using namespace postvue;
using namespace postvue::testing;

namespace {

using namespace postvue::bench;

// A long message: header lines, then a body of 76-character lines.
std::string LargeMessage(std::size_t size) {
  std::string text = "From: \"Alice Example\" <alice@example.com>\r\n"
                     "To: sam.reader@example.com\r\n"
                     "Subject: Scanned archive, all pages\r\n"
                     "Date: Mon, 15 Mar 2004 10:00:00 +0000\r\n"
                     "Message-ID: <archive.20040315@example.com>\r\n"
                     "MIME-Version: 1.0\r\n"
                     "Content-Type: text/plain; charset=\"iso-8859-1\"\r\n\r\n";
  std::uint64_t state = 12345;
  while (text.size() < size) {
    std::string line;
    while (line.size() < 76) {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      line += static_cast<char>('a' + (state >> 33) % 26);
      if ((state >> 40) % 7 == 0) line += ' ';
    }
    line.resize(76);
    text += line + "\r\n";
  }
  text.resize(size - 2);
  return text + "\r\n";
}

bool Measure(const char* kind, TMailbaseReader& reader, const std::string& path, const std::string& expected,
             const std::string& savePath, int rounds) {
  auto start = TClock::now();
  reader.SetFileName(path);
  reader.Load();
  const double load = Since(start);

  std::vector<double> texts, headers, saves;
  bool whole = true;
  for (int r = 0; r < rounds; ++r) {
    start = TClock::now();
    const std::string text = reader.GetMessageText(0);
    texts.push_back(Since(start));
    whole = whole && text == expected;

    start = TClock::now();
    const std::string header = reader.GetMessageHeader(0);
    headers.push_back(Since(start));
    whole = whole && header == expected.substr(0, expected.find("\r\n\r\n") + 1);

    start = TClock::now();
    SaveMessageText(savePath, text);
    saves.push_back(Since(start));
  }
  const auto saved = std::filesystem::file_size(savePath);
  whole = whole && saved == expected.size(); // the text's line ends are already CR LF

  std::printf("%s\n", kind);
  std::printf("  open + load        %.4f s\n", load);
  std::printf("  GetMessageText     %.4f s best, %.4f s median\n", *std::min_element(texts.begin(), texts.end()),
              Median(texts));
  std::printf("  GetMessageHeader   %.6f s best\n", *std::min_element(headers.begin(), headers.end()));
  std::printf("  SaveMessageText    %.4f s best, %.4f s median\n", *std::min_element(saves.begin(), saves.end()),
              Median(saves));
  std::printf("  %s\n", whole ? "text and saved file intact" : "TEXT OR SAVED FILE DIFFERS");
  return whole;
}

int Usage() {
  std::fprintf(stderr, "usage: TextBench [--mb M] [--rounds K]\n");
  return 2;
}

} // namespace

int main(int argc, char** argv) {
  double megabytes = 10;
  int rounds = 5;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--mb" && i + 1 < argc) megabytes = std::atof(argv[++i]);
    else if (arg == "--rounds" && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
    else return Usage();
  }
  if (megabytes <= 0 || megabytes > 1000) return Usage();

  try {
    TTempDir dir;
    const std::string text = LargeMessage(static_cast<std::size_t>(megabytes * 1024 * 1024));
    TTestMessage message;
    message.Subject = "Scanned archive, all pages";
    message.SenderName = "Alice Example";
    message.SenderAddress = "alice@example.com";
    message.Text = text;
    MakeDbx({message}, {"Bench", 51, 512}).WriteFile(dir / "large.dbx");
    MakeMbx({{text, 1}}).WriteFile(dir / "large.mbx");

    std::printf("one message of %zu bytes (%zu blocks of 512 bytes in the .dbx), %d rounds\n", text.size(),
                (text.size() + 511) / 512, rounds);
    TDBXReader dbx;
    TMBXReader mbx;
    bool ok = Measure("dbx", dbx, dir / "large.dbx", text, dir / "saved-dbx.eml", rounds);
    ok = Measure("mbx", mbx, dir / "large.mbx", text, dir / "saved-mbx.eml", rounds) && ok;
    return ok ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "TextBench: %s\n", e.what());
    return 1;
  }
}
