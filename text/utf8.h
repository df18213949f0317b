#pragma once

#include <string>
#include <string_view>

namespace text {

// The outcome of reading one UTF-8 sequence from the front of some bytes.
struct Utf8Read {
  enum class Status { kValid, kInvalid, kTruncated };

  Status status = Status::kInvalid;
  // The code point when valid; U+FFFD otherwise.
  char32_t code_point = U'\uFFFD';
  // Bytes taken: the whole sequence when valid, else the longest well-formed prefix (at least
  // one byte), so each bad sequence counts once.
  int length = 1;
};

// Reads the sequence at the front of `bytes` (which must not be empty). Overlong forms,
// surrogates and code points above U+10FFFF are invalid. A sequence cut short by the end of
// `bytes` is reported as truncated.
Utf8Read ReadUtf8(std::string_view bytes);

// Appends the UTF-8 form of `code_point` (a valid scalar value) to `out`.
void AppendUtf8(char32_t code_point, std::string& out);

}  // namespace text
