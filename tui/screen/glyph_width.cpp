#include "tui/screen/glyph_width.h"

#include <clocale>
#include <cwchar>

#include <locale.h>

#include "text/terminal_safe.h"

namespace tui {
namespace {

// wcwidth answers for the calling thread's locale; the widths must not depend on whether the
// program has set one yet, so they are always asked of a UTF-8 locale of our own.
locale_t Utf8Locale() {
  static const locale_t locale = [] {
    locale_t made = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (made == static_cast<locale_t>(nullptr)) {
      made = newlocale(LC_CTYPE_MASK, "en_US.UTF-8", static_cast<locale_t>(nullptr));
    }
    return made;
  }();
  return locale;
}

}  // namespace

int CodePointWidth(char32_t code_point) {
  if (::text::IsControl(code_point)) {
    return -1;
  }
  if (code_point < 0x7F) {
    return 1;
  }
  const locale_t utf8 = Utf8Locale();
  if (utf8 == static_cast<locale_t>(nullptr)) {
    return wcwidth(static_cast<wchar_t>(code_point));
  }
  const locale_t previous = uselocale(utf8);
  const int width = wcwidth(static_cast<wchar_t>(code_point));
  uselocale(previous);
  return width;
}

}  // namespace tui
