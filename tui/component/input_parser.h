#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tui/component/event.h"

namespace tui {

// Turns the bytes a terminal sends into events: UTF-8 characters, the control keys, the CSI
// and SS3 forms of the cursor and page keys, and SGR and X10 mouse reports. Bytes that may
// still be the start of a longer sequence (a lone ESC above all) wait for more input or for
// Flush, called once the caller has waited long enough.
class InputParser {
 public:
  // Decodes `bytes` after whatever was waiting; complete events are appended to `out`.
  void Feed(std::string_view bytes, std::vector<Event>& out);
  // True while bytes wait for the rest of a sequence.
  bool HasPending() const { return !pending_.empty(); }
  // No more bytes will come for what waits: a lone ESC becomes Escape and the bytes after it
  // are decoded on their own.
  void Flush(std::vector<Event>& out);

 private:
  void Decode(bool final, std::vector<Event>& out);

  std::string pending_;
};

}  // namespace tui
