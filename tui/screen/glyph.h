#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>
#include <type_traits>

namespace tui {

// What one cell shows: a character and the marks joined to it, as UTF-8, held in the cell
// itself. Every cell of every frame is written, cleared and compared, so these are plain byte
// copies with no call into the string library. The bytes past the glyph are kept zero, so that
// equal glyphs are equal byte for byte. Empty for the right half of a wide glyph.
class Glyph {
 public:
  // A base and the marks a terminal can show on it; text is split into glyphs within this.
  static constexpr std::size_t kMaxBytes = 24;

  // A blank.
  Glyph() = default;
  Glyph(std::string_view bytes) { assign(bytes); }  // NOLINT: implicit, as a string's is.
  Glyph(const char* bytes) : Glyph(std::string_view(bytes)) {}         // NOLINT
  Glyph(const std::string& bytes) : Glyph(std::string_view(bytes)) {}  // NOLINT

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  void clear() { assign({}); }

  // Longer input is cut at kMaxBytes; the text splitter never hands over more.
  void assign(std::string_view bytes) {
    const std::size_t size = bytes.size() < kMaxBytes ? bytes.size() : kMaxBytes;
    for (std::size_t i = 0; i < size; ++i) {
      bytes_[i] = bytes[i];
    }
    for (std::size_t i = size; i < size_; ++i) {
      bytes_[i] = 0;
    }
    size_ = static_cast<std::uint8_t>(size);
  }

  operator std::string_view() const { return {bytes_, size_}; }  // NOLINT: implicit.

  friend bool operator==(const Glyph& a, const Glyph& b) {
    return std::memcmp(&a, &b, sizeof(Glyph)) == 0;
  }

  friend std::ostream& operator<<(std::ostream& out, const Glyph& glyph) {
    return out << std::string_view(glyph);
  }

 private:
  std::uint8_t size_ = 1;
  char bytes_[kMaxBytes] = {' '};
};

static_assert(std::has_unique_object_representations_v<Glyph>);

}  // namespace tui
