#include "tests/audio/one_track_player.h"

namespace engine_test {
namespace {

SourceFill DecodeOneTrack(void* track, AudioQueueBufferRef buffer, UInt64 /*stream_frame*/) {
  return DecodeTrackInto(static_cast<AudioTrack*>(track), buffer) > 0 ? SourceFill::kFilled
                                                                      : SourceFill::kEnded;
}

}  // namespace

Player* CreateOneTrackPlayer(AudioTrack* track) {
  if (track == nullptr) {
    return nullptr;
  }
  return CreatePlayer(track->client_format, PcmSource{DecodeOneTrack, track});
}

}  // namespace engine_test
