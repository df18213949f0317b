#include "tests/audio/sequence_driver.h"

#include <thread>
#include <utility>

namespace engine_test {
namespace {

const std::string kNoFile;

}  // namespace

FileOnListing AlbumListing(std::vector<std::string> album) {
  return [album = std::move(album)](const std::string& path, bool) -> const std::string& {
    for (size_t i = 0; i + 1 < album.size(); ++i) {
      if (album[i] == path) {
        return album[i + 1];
      }
    }
    return kNoFile;
  };
}

FileOnListing NoListing() {
  return [](const std::string&, bool) -> const std::string& { return kNoFile; };
}

bool StepUntil(PlaybackState& state, const FileOnListing& listing,
               const std::function<bool()>& done, std::vector<SequenceChange>* changes,
               std::chrono::milliseconds patience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    StepPlayback(state, listing);
    if (changes != nullptr && state.heard.change.kind != SequenceChangeKind::kNone) {
      changes->push_back(state.heard.change);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

}  // namespace engine_test
