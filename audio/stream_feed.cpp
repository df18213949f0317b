#include "audio/stream_feed.h"

#include <utility>
#include <vector>

StreamFeed::StreamFeed(std::unique_ptr<SequencedTrack> first) {
  heard_ = first.get();
  tracks_.push_back(std::move(first));
}

DecodingTrack StreamFeed::Decoding() const {
  std::lock_guard<std::mutex> lock(mutex_);
  const SequencedTrack& last = *tracks_.back();
  return DecodingTrack{&last, last.spent, last.yielded};
}

void StreamFeed::Join(std::unique_ptr<SequencedTrack> next) {
  std::unique_ptr<SequencedTrack> replaced;
  std::lock_guard<std::mutex> lock(mutex_);
  replaced = std::exchange(next_, std::move(next));
  nothing_follows_ = false;
}

std::unique_ptr<SequencedTrack> StreamFeed::TakeBackJoin() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::move(next_);
}

void StreamFeed::SetNothingFollows(bool nothing) {
  std::lock_guard<std::mutex> lock(mutex_);
  nothing_follows_ = nothing;
}

bool StreamFeed::DataEnded() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return tracks_.back()->spent;
}

bool StreamFeed::Waiting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return waiting_;
}

bool StreamFeed::Ended() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ended_;
}

bool StreamFeed::HoldsUnheardTracks() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return tracks_.size() > 1;
}

bool StreamFeed::FollowClock(UInt64 heard_frames) {
  std::vector<std::unique_ptr<SequencedTrack>> gone;
  std::lock_guard<std::mutex> lock(mutex_);
  while (tracks_.size() > 1 && tracks_[1]->start_frame <= heard_frames) {
    gone.push_back(std::move(tracks_.front()));
    tracks_.pop_front();
  }
  heard_ = tracks_.front().get();
  return !gone.empty();
}

void StreamFeed::CloseSpentTracks() {
  std::vector<AudioTrack*> spent;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& track : tracks_) {
      if (track->spent && track->track->data != nullptr) {
        spent.push_back(track->track.get());
      }
    }
  }
  // The refill side never reads a spent track again.
  for (AudioTrack* track : spent) {
    CloseTrack(track);
  }
}

SourceFill StreamFeed::Fill(void* context, AudioQueueBufferRef buffer, UInt64 stream_frame) {
  auto& feed = *static_cast<StreamFeed*>(context);
  std::lock_guard<std::mutex> lock(feed.mutex_);
  while (true) {
    SequencedTrack& decoding = *feed.tracks_.back();
    if (!decoding.spent) {
      if (DecodeTrackInto(decoding.track.get(), buffer) > 0) {
        decoding.yielded = true;
        feed.waiting_ = false;
        return SourceFill::kFilled;
      }
      decoding.spent = true;
    }
    if (feed.next_ != nullptr) {
      // Its first frame comes right after the last one enqueued: nothing between, nothing lost.
      feed.next_->start_frame = stream_frame;
      feed.tracks_.push_back(std::move(feed.next_));
      continue;
    }
    if (!feed.nothing_follows_) {
      // What is queued plays on meanwhile; the main thread resumes the filling when it knows.
      feed.waiting_ = true;
      return SourceFill::kLater;
    }
    feed.waiting_ = false;
    feed.ended_ = true;
    return SourceFill::kEnded;
  }
}
