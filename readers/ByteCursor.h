// Little-endian reading from a byte buffer that can never leave the buffer.
//
// A cursor remembers its first failure; later reads return zero and do
// nothing, so a run of field reads is checked once, with Ok(), at the end.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace postvue {

class TByteCursor {
public:
  explicit TByteCursor(std::span<const std::uint8_t> bytes, std::size_t offset = 0)
      : Bytes(bytes), Offset(offset), Good(offset <= bytes.size()) {}

  bool Ok() const { return Good; }
  std::size_t Tell() const { return Offset; }
  std::size_t Remaining() const { return Good ? Bytes.size() - Offset : 0; }

  void Seek(std::size_t offset) {
    if (offset > Bytes.size()) Good = false;
    if (Good) Offset = offset;
  }
  void Skip(std::size_t count) {
    if (!Have(count)) return;
    Offset += count;
  }

  std::uint8_t U8() { return static_cast<std::uint8_t>(Take<1>()); }
  std::uint16_t U16() { return static_cast<std::uint16_t>(Take<2>()); }
  std::uint32_t U24() { return static_cast<std::uint32_t>(Take<3>()); }
  std::uint32_t U32() { return static_cast<std::uint32_t>(Take<4>()); }
  std::uint64_t U64() { return Take<8>(); }

  // The bytes from here up to, not including, the first zero byte. With
  // requireTerminator, a text that runs to the end of the buffer without one
  // is a failure; otherwise it ends there.
  std::string_view ZString(bool requireTerminator) {
    if (!Good) return {};
    std::size_t end = Offset;
    while (end < Bytes.size() && Bytes[end] != 0) ++end;
    if (end == Bytes.size() && requireTerminator) {
      Good = false;
      return {};
    }
    std::string_view text(reinterpret_cast<const char*>(Bytes.data()) + Offset, end - Offset);
    Offset = end == Bytes.size() ? end : end + 1;
    return text;
  }

private:
  bool Have(std::size_t count) {
    // Overflow-safe: compare against what is left, never offset + count.
    if (Good && count > Bytes.size() - Offset) Good = false;
    return Good;
  }
  // A fixed size, so that on a little-endian processor the read is one load:
  // the index and text walks decode millions of fields.
  template <std::size_t count> std::uint64_t Take() {
    if (!Have(count)) return 0;
    std::uint64_t value = 0;
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(&value, Bytes.data() + Offset, count);
    } else {
      for (std::size_t i = 0; i < count; ++i) value |= static_cast<std::uint64_t>(Bytes[Offset + i]) << (8 * i);
    }
    Offset += count;
    return value;
  }

  std::span<const std::uint8_t> Bytes;
  std::size_t Offset;
  bool Good;
};

// The bytes of one structure of a store.
using TBytes = std::span<const std::uint8_t>;

// A structure decoded from bytes: its fields, as far as the bytes reach, and
// why it is not sound (the fault kind's zero value when it is).
template <typename T, typename TFaultKind> struct TDecodedOf {
  T Value{};
  TFaultKind Fault{};
  bool Sound() const { return Fault == TFaultKind{}; }
};

} // namespace postvue
