#include "StoreWriter.h"

#include "FilePaths.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

namespace postvue::testing {

void TImage::Put(std::size_t at, std::uint64_t v, int width) {
  Reserve(at + static_cast<std::size_t>(width));
  for (int i = 0; i < width; ++i) Data[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

void TImage::Bytes(std::size_t at, std::string_view bytes) {
  Reserve(at + bytes.size());
  std::copy(bytes.begin(), bytes.end(), Data.begin() + static_cast<std::ptrdiff_t>(at));
}

std::uint32_t TImage::GetU32(std::size_t at) const {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(Data.at(at + static_cast<std::size_t>(i))) << (8 * i);
  return v;
}

void TImage::WriteFile(const std::string& path) const {
  WriteFileBytes(path, std::string_view(reinterpret_cast<const char*>(Data.data()), Data.size()));
}

void WriteFileBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(PathFromUtf8(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write test file " + path);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read test file " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> SortedNames(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(PathFromUtf8(dir))) {
    const std::u8string name = entry.path().filename().u8string();
    names.emplace_back(name.begin(), name.end());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::uint64_t FileTimeOf(int year, int month, int day, int hour, int minute, int second, int millisecond) {
  // Days from 1 January 1601 (days-from-civil, proleptic Gregorian).
  const int y = month <= 2 ? year - 1 : year;
  const int era = y / 400;
  const int yoe = y - era * 400;
  const int mp = (month + 9) % 12;
  const int doy = (153 * mp + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t daysSince1970 = static_cast<std::int64_t>(era) * 146097 + doe - 719468;
  const std::int64_t daysSince1601 = daysSince1970 + 134774;
  const std::int64_t ms = ((daysSince1601 * 24 + hour) * 60 + minute) * 60000 + second * 1000 + millisecond;
  return static_cast<std::uint64_t>(ms) * 10000;
}

// ---------------------------------------------------------------- .dbx

TDbxProperty TDbxProperty::U32(std::uint8_t id, std::uint32_t value) {
  std::string data(4, '\0');
  for (int i = 0; i < 4; ++i) data[static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
  return {id, 0, data, false};
}

TDbxProperty TDbxProperty::U64(std::uint8_t id, std::uint64_t value) {
  std::string data(8, '\0');
  for (int i = 0; i < 8; ++i) data[static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
  return {id, 0, data, false};
}

TDbxImage::TDbxImage() {
  Reserve(kHeaderSize + kFolderInfoSize);
  U32(0, 0xFE12ADCF);
  U32(4, kKindMessages);
}

void TDbxImage::SetFolderName(std::string_view name) {
  const std::size_t at = kHeaderSize + 0x105;
  for (std::size_t i = at; i < kHeaderSize + kFolderInfoSize; ++i) Data[i] = 0;
  Bytes(at, name.substr(0, kFolderInfoSize - 0x105));
}

void TDbxImage::WriteNode(std::uint32_t at, const TDbxNode& node) {
  Reserve(at + 0x27CU);
  U32(at + 0x00, node.Marker ? node.Marker : at);
  U32(at + 0x08, node.LeftChild);
  U32(at + 0x0C, node.Parent);
  U8(at + 0x11, node.EntryCount == 0xFF ? static_cast<std::uint8_t>(node.Entries.size()) : node.EntryCount);
  U32(at + 0x14, node.LeftValueCount);
  for (std::size_t i = 0; i < node.Entries.size() && i < 51; ++i) {
    const std::size_t e = at + 0x18 + 12 * i;
    U32(e, node.Entries[i].Value);
    U32(e + 4, node.Entries[i].Child);
    U32(e + 8, node.Entries[i].ChildValueCount);
  }
}

std::uint32_t TDbxImage::AddNode(const TDbxNode& node) {
  const std::uint32_t at = Allocate(0x27C);
  WriteNode(at, node);
  return at;
}

std::uint32_t TDbxImage::AddMessageInfo(const std::vector<TDbxProperty>& properties) {
  std::string entries, data;
  for (const auto& p : properties) {
    std::uint32_t value = p.Value;
    const bool direct = p.Id >= 0x80;
    if (!direct && !p.RawValue) value = static_cast<std::uint32_t>(data.size());
    data += p.Data;
    entries += static_cast<char>(p.Id);
    for (int i = 0; i < 3; ++i) entries += static_cast<char>(value >> (8 * i));
  }
  const std::string body = entries + data;
  const std::uint32_t at = Allocate(12 + body.size());
  U32(at, at);
  U32(at + 4, static_cast<std::uint32_t>(body.size()));
  U8(at + 10, static_cast<std::uint8_t>(properties.size()));
  Bytes(at + 12, body);
  return at;
}

std::uint32_t TDbxImage::AddBlock(std::string_view text, std::uint32_t next) {
  const std::uint32_t at = Allocate(16 + text.size());
  U32(at, at);
  U32(at + 4, 0x200);
  U32(at + 8, static_cast<std::uint32_t>(text.size()));
  U32(at + 12, next);
  Bytes(at + 16, text);
  return at;
}

std::uint32_t TDbxImage::AddText(std::string_view text, std::size_t blockSize) {
  if (text.empty()) return 0;
  std::uint32_t first = 0, previous = 0;
  for (std::size_t pos = 0; pos < text.size(); pos += blockSize) {
    const std::uint32_t at = AddBlock(text.substr(pos, blockSize));
    if (previous)
      U32(previous + 12, at);
    else
      first = at;
    previous = at;
  }
  return first;
}

std::uint32_t TDbxImage::AddDisplacedText(std::string_view text, std::uint32_t displacement, std::size_t blockSize) {
  const std::uint32_t first = AddText(text, blockSize);
  for (std::uint32_t at = first; at != 0;) {
    const std::uint32_t next = GetU32(at + 12);
    U32(at, at + displacement);
    if (next) U32(at + 12, next + displacement);
    at = next;
  }
  return first;
}

namespace {
std::uint64_t Capacity(unsigned height, unsigned fanout) {
  std::uint64_t cap = fanout;
  for (unsigned h = 0; h < height; ++h) cap = fanout + (fanout + 1ULL) * cap;
  return cap;
}

std::uint32_t BuildSubtree(TDbxImage& image, const std::uint32_t* values, std::size_t count, std::uint32_t parent,
                           unsigned fanout) {
  const std::uint32_t at = image.Allocate(0x27C);
  TDbxNode node;
  node.Parent = parent;
  if (count <= fanout) {
    for (std::size_t i = 0; i < count; ++i) node.Entries.push_back({values[i], 0, 0});
    image.WriteNode(at, node);
    return at;
  }
  unsigned height = 1;
  while (Capacity(height, fanout) < count) ++height;
  const std::size_t rest = count - fanout, children = fanout + 1;
  std::size_t pos = 0;
  for (std::size_t c = 0; c < children; ++c) {
    const std::size_t size = rest / children + (c < rest % children ? 1 : 0);
    const std::uint32_t child = size ? BuildSubtree(image, values + pos, size, at, fanout) : 0;
    pos += size;
    if (c == 0) {
      node.LeftChild = child;
      node.LeftValueCount = static_cast<std::uint32_t>(size);
    } else {
      node.Entries.back().Child = child;
      node.Entries.back().ChildValueCount = static_cast<std::uint32_t>(size);
    }
    if (c < fanout) node.Entries.push_back({values[pos++], 0, 0});
  }
  image.WriteNode(at, node);
  return at;
}
} // namespace

std::uint32_t TDbxImage::BuildTree(const std::vector<std::uint32_t>& values, unsigned fanout) {
  const std::uint32_t root = BuildSubtree(*this, values.data(), values.size(), 0, std::max(1u, fanout));
  SetIndexRoot(root);
  SetMessageCount(static_cast<std::uint32_t>(values.size()));
  return root;
}

std::vector<TDbxProperty> PropertiesOf(const TTestMessage& m, std::uint32_t textOffset) {
  std::vector<TDbxProperty> p;
  p.push_back(TDbxProperty::Direct(0x80, m.MsgIndex));
  p.push_back(TDbxProperty::Direct(0x81, m.Flags & 0xFFFFFF));
  if (m.Flags > 0xFFFFFF) p.push_back(TDbxProperty::U32(0x01, m.Flags));
  if (textOffset) p.push_back(textOffset <= 0xFFFFFF ? TDbxProperty::Direct(0x84, textOffset)
                                                     : TDbxProperty::U32(0x04, textOffset));
  p.push_back(TDbxProperty::Text(0x08, m.Subject));
  if (!m.SenderName.empty()) p.push_back(TDbxProperty::Text(0x0D, m.SenderName));
  if (!m.SenderAddress.empty()) p.push_back(TDbxProperty::Text(0x0E, m.SenderAddress));
  p.push_back(TDbxProperty::Direct(0x90, static_cast<std::uint32_t>(m.Priority) & 0xFFFFFF));
  if (m.Received) p.push_back(TDbxProperty::U64(0x12, m.Received));
  return p;
}

TDbxImage MakeDbx(const std::vector<TTestMessage>& messages, const TDbxOptions& options) {
  TDbxImage image;
  image.SetFolderName(options.FolderName);
  std::vector<std::uint32_t> values;
  for (const auto& m : messages) {
    const std::uint32_t text = image.AddText(m.Text, options.BlockSize);
    values.push_back(image.AddMessageInfo(PropertiesOf(m, text)));
  }
  if (!values.empty())
    image.BuildTree(values, options.Fanout);
  return image;
}

TDbxImage MakeFolderList(const std::vector<TTestFolder>& folders) {
  TDbxImage image;
  image.SetKind(0x6F74FDC6);
  std::vector<std::uint32_t> values;
  for (const auto& f : folders) {
    std::vector<TDbxProperty> p;
    if (f.Id) p.push_back(TDbxProperty::Direct(0x80, f.Id));
    if (f.Parent) p.push_back(TDbxProperty::Direct(0x81, f.Parent));
    if (!f.Name.empty()) p.push_back(TDbxProperty::Text(0x02, f.Name));
    if (!f.File.empty()) p.push_back(TDbxProperty::Text(0x03, f.File));
    values.push_back(image.AddMessageInfo(p));
  }
  if (!values.empty()) image.BuildTree(values);
  return image;
}

// ---------------------------------------------------------------- .mbx and .idx

TMbxImage::TMbxImage() {
  Reserve(kHeaderSize);
  Bytes(0, "JMF6");
}

std::uint32_t TMbxImage::AddMessage(const TMbxMessage& m) {
  const std::size_t textLength = m.Text.size();
  const std::uint32_t block =
      m.BlockLength >= 0 ? static_cast<std::uint32_t>(m.BlockLength) : static_cast<std::uint32_t>((16 + textLength + 3) & ~std::size_t{3});
  const std::uint32_t at = static_cast<std::uint32_t>(Size());
  U32(at, m.Tag);
  U32(at + 4, m.Number);
  U32(at + 8, block);
  U32(at + 12, m.DataLength >= 0 ? static_cast<std::uint32_t>(m.DataLength) : static_cast<std::uint32_t>(textLength));
  Bytes(at + 16, m.Text);
  if (m.BlockLength < 0) Reserve(at + block);
  return at;
}

TMbxImage MakeMbx(const std::vector<TMbxMessage>& messages) {
  TMbxImage image;
  image.SetMessageCount(static_cast<std::int32_t>(messages.size()));
  for (const auto& m : messages) image.AddMessage(m);
  return image;
}

TIdxImage::TIdxImage() {
  Reserve(kHeaderSize);
  Bytes(0, "JMF9");
}

std::uint32_t TIdxImage::AddRecord(const TIdxRecord& r) {
  const std::uint32_t at = Allocate(212);
  U32(at + 0, r.MessageFlags);
  U32(at + 8, r.MessageNumber);
  U32(at + 20, r.MessagePos);
  U32(at + 24, r.MessageSize);
  U64(at + 194, r.ReceivedTime);
  U16(at + 210, r.MessagePriority);
  for (const auto& s : r.Strings) {
    const std::uint32_t len = Allocate(4);
    U32(len, static_cast<std::uint32_t>(s.size()));
    Bytes(Size(), s);
  }
  const std::uint32_t next = r.NextOffset >= 0 ? static_cast<std::uint32_t>(r.NextOffset) : static_cast<std::uint32_t>(Size());
  U32(at + 12, at);
  U32(at + 16, next - at);
  return at;
}

TIdxImage MakeIdx(const std::vector<TIdxRecord>& records) {
  TIdxImage image;
  image.SetRecordCount(static_cast<std::int32_t>(records.size()));
  for (const auto& r : records) image.AddRecord(r);
  return image;
}

TTempDir::TTempDir() {
  std::random_device seed;
  std::mt19937_64 random(seed());
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    auto candidate = base / ("postvue-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(candidate)) {
      const std::u8string utf8 = candidate.u8string();
      Dir.assign(utf8.begin(), utf8.end());
      return;
    }
  }
}

TTempDir::~TTempDir() {
  std::error_code ec;
  std::filesystem::remove_all(PathFromUtf8(Dir), ec);
}

} // namespace postvue::testing
