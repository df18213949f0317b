#include "text/utf8.h"

namespace text {
namespace {

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The allowed range of the second byte after `lead`, which rules out overlong forms,
// surrogates and code points above U+10FFFF.
void SecondByteRange(unsigned char lead, unsigned char& low, unsigned char& high) {
  low = 0x80;
  high = 0xBF;
  if (lead == 0xE0) {
    low = 0xA0;
  } else if (lead == 0xED) {
    high = 0x9F;
  } else if (lead == 0xF0) {
    low = 0x90;
  } else if (lead == 0xF4) {
    high = 0x8F;
  }
}

// Sequence length announced by a lead byte; 0 for a byte that cannot start one.
int SequenceLength(unsigned char lead) {
  if (lead < 0x80) {
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    return 2;
  }
  if (lead >= 0xE0 && lead <= 0xEF) {
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    return 4;
  }
  return 0;
}

}  // namespace

Utf8Read ReadUtf8(std::string_view bytes) {
  const auto lead = static_cast<unsigned char>(bytes[0]);
  const int length = SequenceLength(lead);
  if (length == 1) {
    return {Utf8Read::Status::kValid, lead, 1};
  }
  if (length == 0) {
    return {};
  }
  char32_t code_point = lead & (0xFF >> (length + 1));
  for (int index = 1; index < length; ++index) {
    if (static_cast<size_t>(index) >= bytes.size()) {
      return {Utf8Read::Status::kTruncated, U'\uFFFD', index};
    }
    const auto byte = static_cast<unsigned char>(bytes[static_cast<size_t>(index)]);
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (index == 1) {
      SecondByteRange(lead, low, high);
    }
    if (!IsContinuation(byte) || byte < low || byte > high) {
      return {Utf8Read::Status::kInvalid, U'\uFFFD', index};
    }
    code_point = (code_point << 6) | (byte & 0x3F);
  }
  return {Utf8Read::Status::kValid, code_point, length};
}

void AppendUtf8(char32_t code_point, std::string& out) {
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    out += static_cast<char>(0xC0 | (code_point >> 6));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    out += static_cast<char>(0xE0 | (code_point >> 12));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code_point >> 18));
    out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

}  // namespace text
