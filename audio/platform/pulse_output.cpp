#include "audio/platform/pulse_output.h"

#include <algorithm>
#include <limits>
#include <utility>

extern "C" {
#include <libavutil/channel_layout.h>
}

#include "audio/platform/pulse_connection.h"

namespace pulse_platform {
namespace {

using output_queue::AudioOutput;

// The server keeps a second; it asks for more once a quarter of a second has played, so it and
// the program wake about four times a second, with three quarters of a second still to play.
constexpr double kBufferSeconds = 1.0;
constexpr double kRequestSeconds = 0.25;

// How long a pause waits for the server to say it has corked the stream, and where. The process
// may be stopped right after a pause (Ctrl-Z): a request still queued here would reach the
// server only once the process is continued, and the sound would play on meanwhile.
constexpr pa_usec_t kCorkAnswerUsec = 100 * PA_USEC_PER_MSEC;

// How long past the end, by the clock, a drain is given before it counts as played out.
constexpr pa_usec_t kDrainMarginUsec = 30 * PA_USEC_PER_MSEC;

// How long after a drain a stream that is still connected is looked at again, to be corked once
// the clock says its end has been heard through the whole chain to the speakers.
constexpr pa_usec_t kIdleCorkUsec = PA_USEC_PER_SEC;

// A clock that runs moves within this long; one that does not has stopped.
constexpr pa_usec_t kClockStallUsec = 100 * PA_USEC_PER_MSEC;

constexpr UInt64 kClockUnseen = std::numeric_limits<UInt64>::max();

pa_channel_position_t PulsePosition(AVChannel channel, int index) {
  switch (channel) {
    case AV_CHAN_FRONT_LEFT:
      return PA_CHANNEL_POSITION_FRONT_LEFT;
    case AV_CHAN_FRONT_RIGHT:
      return PA_CHANNEL_POSITION_FRONT_RIGHT;
    case AV_CHAN_FRONT_CENTER:
      return PA_CHANNEL_POSITION_FRONT_CENTER;
    case AV_CHAN_LOW_FREQUENCY:
      return PA_CHANNEL_POSITION_LFE;
    case AV_CHAN_BACK_LEFT:
      return PA_CHANNEL_POSITION_REAR_LEFT;
    case AV_CHAN_BACK_RIGHT:
      return PA_CHANNEL_POSITION_REAR_RIGHT;
    case AV_CHAN_BACK_CENTER:
      return PA_CHANNEL_POSITION_REAR_CENTER;
    case AV_CHAN_FRONT_LEFT_OF_CENTER:
      return PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER;
    case AV_CHAN_FRONT_RIGHT_OF_CENTER:
      return PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER;
    case AV_CHAN_SIDE_LEFT:
      return PA_CHANNEL_POSITION_SIDE_LEFT;
    case AV_CHAN_SIDE_RIGHT:
      return PA_CHANNEL_POSITION_SIDE_RIGHT;
    default:
      return static_cast<pa_channel_position_t>(PA_CHANNEL_POSITION_AUX0 + index);
  }
}

// The decoder delivers FFmpeg's default layout for the channel count; the server is told the
// same positions, so that it maps each channel to its speaker.
pa_channel_map ChannelMap(int channels) {
  pa_channel_map map{};
  map.channels = static_cast<uint8_t>(channels);
  if (channels == 1) {
    map.map[0] = PA_CHANNEL_POSITION_MONO;
    return map;
  }
  AVChannelLayout layout;
  av_channel_layout_default(&layout, channels);
  for (int i = 0; i < channels; ++i) {
    map.map[i] = PulsePosition(av_channel_layout_channel_from_index(&layout, i), i);
  }
  av_channel_layout_uninit(&layout);
  return map;
}

uint32_t BytesFor(double seconds, const pa_sample_spec& spec) {
  return static_cast<uint32_t>(
      pa_usec_to_bytes(static_cast<pa_usec_t>(seconds * PA_USEC_PER_SEC), &spec));
}

class PulseOutput final : public AudioOutput {
 public:
  PulseOutput(OpaqueAudioQueue& queue, std::shared_ptr<ServerConnection> server)
      : queue_(queue),
        server_(std::move(server)),
        mainloop_(server_->mainloop()),
        context_(server_->context()) {}

  ~PulseOutput() override {
    if (stream_ == nullptr) {
      return;
    }
    MainloopLock lock(mainloop_);
    EndDrain();
    CancelIdleCork();
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    pa_stream_set_latency_update_callback(stream_, nullptr, nullptr);
    if (pa_stream_get_state(stream_) == PA_STREAM_CREATING) {
      // The server has not answered for the stream yet, and until it does the stream cannot be
      // disconnected. It usually answers within milliseconds, but a server that hangs would hang
      // a change of track and the quit, so the stream is left to end itself once answered.
      // Nothing is heard meanwhile: it was made corked and has been given nothing.
      pa_stream_set_state_callback(stream_, DisconnectOnceAnswered, nullptr);
      return;
    }
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    // Silences the stream at once, whatever the server still holds of it.
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
  }

  // Connects the stream, corked. The server takes it a little later (PipeWire's Pulse service
  // in some 15 ms), which the caller does not wait for: what is enqueued, started or paused
  // meanwhile is applied once it has.
  bool Connect() {
    MainloopLock lock(mainloop_);
    const pa_sample_spec spec = {PA_SAMPLE_S16NE, static_cast<uint32_t>(queue_.format.mSampleRate),
                                 static_cast<uint8_t>(queue_.format.mChannelsPerFrame)};
    const pa_channel_map map = ChannelMap(spec.channels);
    if (!pa_sample_spec_valid(&spec) || !pa_channel_map_valid(&map)) {
      return false;
    }
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "music");
    stream_ = pa_stream_new_with_proplist(context_, "Music", &spec, &map, properties);
    pa_proplist_free(properties);
    if (stream_ == nullptr) {
      return false;
    }
    pa_stream_set_state_callback(stream_, OnStateChanged, this);
    pa_stream_set_write_callback(stream_, OnWritable, this);
    pa_stream_set_latency_update_callback(stream_, OnTimingUpdated, this);
    pa_buffer_attr buffer{};
    buffer.maxlength = std::numeric_limits<uint32_t>::max();
    buffer.tlength = BytesFor(kBufferSeconds, spec);
    buffer.prebuf = std::numeric_limits<uint32_t>::max();
    buffer.minreq = BytesFor(kRequestSeconds, spec);
    buffer.fragsize = std::numeric_limits<uint32_t>::max();
    const auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_START_CORKED | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
    return pa_stream_connect_playback(stream_, nullptr, &buffer, flags, nullptr, nullptr) == 0 &&
           PA_STREAM_IS_GOOD(pa_stream_get_state(stream_));
  }

  OSStatus Start() override { return Cork(false); }
  OSStatus Pause() override { return Cork(true); }

  void Flush() override {
    MainloopLock lock(mainloop_);
    Forget(pa_stream_flush(stream_, nullptr, nullptr));
  }

  void Wake() override {
    MainloopLock lock(mainloop_);
    Pump();
  }

  UInt64 HeardFrames() override {
    MainloopLock lock(mainloop_);
    return ReadClockLocked();
  }

 private:
  // Runs on the main loop's thread.
  static void OnStateChanged(pa_stream* stream, void* self) {
    auto* output = static_cast<PulseOutput*>(self);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_READY) {
      // Uncorked first: a corked stream takes no trigger, and one that waits for a fuller buffer
      // than the queue holds would never start.
      if (output->playing_) {
        Forget(pa_stream_cork(stream, 0, nullptr, nullptr));
      }
      output->Pump();
    } else if (!PA_STREAM_IS_GOOD(state)) {
      // The server went away or dropped the stream: the queue opens another, which plays on
      // from what was heard by the last reading of the clock, and drains there if it must.
      output->EndDrain();
      output_queue::MarkHeard(output->queue_, output->HeardAtLoss());
      output_queue::LoseOutput(output->queue_);
    }
  }

  // Ends a stream given up before the server answered for it: runs on the main loop's thread,
  // when the answer comes or the connection closes.
  static void DisconnectOnceAnswered(pa_stream* stream, void*) {
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_CREATING) {
      return;
    }
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    if (state == PA_STREAM_READY) {
      pa_stream_disconnect(stream);
    }
    pa_stream_unref(stream);
  }

  // The server asks for more: runs on the main loop's thread.
  static void OnWritable(pa_stream*, size_t, void* self) {
    static_cast<PulseOutput*>(self)->Pump();
  }

  // The server's clock arrived (ever less often, up to every 1.5 s): it is read as it comes, so
  // that a stream lost between two readings by the caller is known to have played up to the
  // last one, and what it says has been heard goes back. Runs on the main loop's thread.
  static void OnTimingUpdated(pa_stream*, void* self) {
    auto* output = static_cast<PulseOutput*>(self);
    output_queue::MarkHeard(output->queue_, output->ReadClockLocked());
  }

  // The server has played out the stream: runs on the main loop's thread.
  static void OnDrained(pa_stream*, int, void* self) {
    static_cast<PulseOutput*>(self)->FinishDrain();
  }

  // The clock says the end should have been heard by now: runs on the main loop's thread. A
  // stream that has run dry may have its clock stop short of the last frame written, for good
  // (a sink that renders far ahead does so), so a clock that has not moved since the last look
  // counts as the end too. While corked it stands still of course, and nothing is judged.
  static void OnDrainDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    auto* output = static_cast<PulseOutput*>(self);
    const UInt64 heard = output->ReadClockLocked();
    if (!output->playing_) {
      output->drain_clock_seen_ = kClockUnseen;
      output->ArmDrainDeadline(0);
    } else if (heard >= output->written_frames_ || heard == output->drain_clock_seen_) {
      output->FinishDrain();
    } else {
      output->drain_clock_seen_ = heard;
      output->ArmDrainDeadline(output->written_frames_ - heard, kClockStallUsec);
    }
  }

  // Corking earlier would take back from the sink what it has yet to play of the end; a clock
  // that stands still short of it will not get there.
  static void OnIdleCork(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    auto* output = static_cast<PulseOutput*>(self);
    // The clock is read in microseconds: a frame's rounding short of the end is the end.
    const UInt64 rounding = output->queue_.format.mSampleRate / 1000 + 1;
    const UInt64 heard = output->ReadClockLocked();
    if (heard + rounding < output->written_frames_ && heard != output->idle_clock_seen_) {
      output->idle_clock_seen_ = heard;
      output->ArmIdleCork();
      return;
    }
    output->CancelIdleCork();
    output->playing_ = false;
    Forget(pa_stream_cork(output->stream_, 1, nullptr, nullptr));
  }

  // The server has answered a request that a caller waits for: runs on the main loop's thread.
  static void OnAnswered(pa_stream*, int, void* mainloop) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(mainloop), 0);
  }

  static void Forget(pa_operation* operation) {
    if (operation != nullptr) {
      pa_operation_unref(operation);
    }
  }

  OSStatus Cork(bool cork) {
    MainloopLock lock(mainloop_);
    CancelIdleCork();
    if (cork) {
      ReadClockLocked();  // Where it stood, should the server not answer below.
    }
    playing_ = !cork;
    if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
      // Not taken by the server yet: it starts corked, and is uncorked once taken if it plays.
      // Or gone: the output that replaces it plays as the queue does.
      return noErr;
    }
    pa_operation* operation = pa_stream_cork(stream_, cork ? 1 : 0, nullptr, nullptr);
    if (operation == nullptr) {
      return kAudioQueueErr_InvalidDevice;
    }
    pa_operation_unref(operation);
    if (cork) {
      AwaitCorkedClock();
    } else if (output_queue::AllWritten(queue_)) {
      // Everything the queue holds was written while corked: see Pump.
      Forget(pa_stream_trigger(stream_, nullptr, nullptr));
    }
    return noErr;
  }

  // Waits a moment for the server to take the cork, and for its clock as of then: the frame
  // where the sound stopped, from which a stream that replaces this one would play on.
  void AwaitCorkedClock() {
    pa_operation* timing = pa_stream_update_timing_info(stream_, OnAnswered, mainloop_);
    if (timing == nullptr) {
      return;
    }
    const bool answered = WaitForServer(
        mainloop_, context_,
        [timing] { return pa_operation_get_state(timing) != PA_OPERATION_RUNNING; },
        kCorkAnswerUsec);
    if (!answered) {
      pa_operation_cancel(timing);
    }
    pa_operation_unref(timing);
    if (answered) {
      ReadClockLocked();
    }
  }

  // Writes what the server has room for, hands back what has been heard, and drains once a
  // stop's last buffer is written. Main loop's lock held.
  void Pump() {
    if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
      return;
    }
    if (WriteWhatFits() && output_queue::AllWritten(queue_)) {
      // The server waits for a fuller buffer before it plays, but nothing more comes until
      // something has been heard: a queue with little in flight (short buffers, a high rate)
      // would wait for ever.
      Forget(pa_stream_trigger(stream_, nullptr, nullptr));
    }
    output_queue::MarkHeard(queue_, ReadClockLocked());
    if (drain_ == nullptr && output_queue::DrainDue(queue_)) {
      drain_ = pa_stream_drain(stream_, OnDrained, this);
      if (drain_ == nullptr) {
        output_queue::FinishDrain(queue_);
        return;
      }
      const UInt64 heard = ReadClockLocked();
      drain_clock_seen_ = kClockUnseen;
      ArmDrainDeadline(written_frames_ > heard ? written_frames_ - heard : 0);
    }
  }

  // A drain ends when the server says it has played everything, or when the clock says so,
  // whichever comes first: PipeWire's Pulse service answers a drain some hundred milliseconds
  // after the end has been heard, which the next track would wait out in silence. The clock
  // runs a little behind the sound on both servers, and the margin covers what it may run
  // ahead, so nothing is cut off.
  void ArmDrainDeadline(UInt64 frames_left, pa_usec_t at_most = PA_USEC_INVALID) {
    const auto wait = static_cast<pa_usec_t>(static_cast<double>(frames_left) * PA_USEC_PER_SEC /
                                             queue_.format.mSampleRate) +
                      kDrainMarginUsec;
    ArmTimer(drain_deadline_, std::min(wait, at_most), OnDrainDeadline);
  }

  void FinishDrain() {
    EndDrain();
    output_queue::FinishDrain(queue_);
    idle_clock_seen_ = ReadClockLocked();
    ArmIdleCork();
  }

  // A drained stream stays connected while its ended track stays in place, which may be until
  // the user quits. Running on empty, it would keep the server mixing silence for it (PipeWire
  // its whole graph) and the sound card from suspending; corked, it costs nothing.
  void ArmIdleCork() { ArmTimer(idle_cork_, kIdleCorkUsec, OnIdleCork); }
  void CancelIdleCork() { FreeTimer(idle_cork_); }

  // Sets `timer` to call `callback` with this output `wait` from now, making it if need be.
  void ArmTimer(pa_time_event*& timer, pa_usec_t wait, pa_time_event_cb_t callback) {
    if (timer == nullptr) {
      timer = pa_context_rttime_new(context_, pa_rtclock_now() + wait, callback, this);
    } else {
      pa_context_rttime_restart(context_, timer, pa_rtclock_now() + wait);
    }
  }

  void FreeTimer(pa_time_event*& timer) {
    if (timer != nullptr) {
      pa_threaded_mainloop_get_api(mainloop_)->time_free(timer);
      timer = nullptr;
    }
  }

  // Forgets a drain under way: neither of its ends will call back.
  void EndDrain() {
    if (drain_ != nullptr) {
      pa_operation_cancel(drain_);
      pa_operation_unref(drain_);
      drain_ = nullptr;
    }
    FreeTimer(drain_deadline_);
  }

  // True when some PCM was written.
  bool WriteWhatFits() {
    bool wrote = false;
    size_t room = pa_stream_writable_size(stream_);
    while (room > 0 && room != static_cast<size_t>(-1)) {
      void* memory = nullptr;
      size_t size = room;
      // The server's own memory: the PCM is copied once, straight from the queue's buffer.
      if (pa_stream_begin_write(stream_, &memory, &size) < 0 || memory == nullptr) {
        return wrote;
      }
      const auto capacity = static_cast<UInt32>(std::min<size_t>(size, UINT32_MAX));
      const UInt32 taken = output_queue::TakePcm(queue_, memory, capacity);
      if (taken == 0) {
        pa_stream_cancel_write(stream_);
        return wrote;
      }
      if (pa_stream_write(stream_, memory, taken, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
        return wrote;
      }
      wrote = true;
      written_frames_ += taken / queue_.format.mBytesPerFrame;
      room -= std::min<size_t>(room, taken);
    }
    return wrote;
  }

  // Reads the stream's clock and keeps the reading, for when the server tells nothing: before
  // its first timing, and once the stream is gone. Returns the frames heard by the last reading.
  // Main loop's lock held.
  UInt64 ReadClockLocked() {
    pa_usec_t heard = 0;
    if (pa_stream_get_time(stream_, &heard) == 0) {
      const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
      // libpulse's interpolated clock runs on at the wall's pace while a stream made corked
      // waits to start, and keeps that lead for a while once it plays (0.15 s after 0.3 s
      // corked): a stream made during a pause would play on from past what was heard.
      heard = std::min(heard, ReportedHeardUsec(timing));
      clock_ = {heard, pa_rtclock_now(), playing_ && timing != nullptr && timing->playing != 0};
      heard_frames_ = FramesIn(heard);
    }
    return heard_frames_;
  }

  // What the server's last report says has been heard by now: what it had taken from the
  // stream less what its sink still held then, run on since while it plays. No bound when
  // there is no report, or its index is unknown.
  pa_usec_t ReportedHeardUsec(const pa_timing_info* timing) const {
    if (timing == nullptr || timing->read_index_corrupt || timing->read_index < 0) {
      return std::numeric_limits<pa_usec_t>::max();
    }
    const UInt64 taken_frames =
        static_cast<UInt64>(timing->read_index) / queue_.format.mBytesPerFrame;
    const pa_usec_t taken =
        taken_frames * PA_USEC_PER_SEC / static_cast<UInt64>(queue_.format.mSampleRate);
    const pa_usec_t heard = taken - std::min(taken, timing->sink_usec);
    return timing->playing != 0 ? heard + pa_timeval_age(&timing->timestamp) : heard;
  }

  // What had been heard when the stream went away: the clock's last reading, run on to now if
  // the stream was playing then, as the server's own clock ran until it went. The queue keeps
  // it within what was written.
  UInt64 HeardAtLoss() const {
    if (!clock_.running) {
      return heard_frames_;
    }
    return FramesIn(clock_.heard_usec + (pa_rtclock_now() - clock_.read_at_usec));
  }

  UInt64 FramesIn(pa_usec_t usec) const {
    return usec * static_cast<UInt64>(queue_.format.mSampleRate) / PA_USEC_PER_SEC;
  }

  // A reading of the stream's clock.
  struct ClockReading {
    pa_usec_t heard_usec = 0;
    pa_usec_t read_at_usec = 0;  // pa_rtclock_now() when it was read.
    bool running = false;        // Playing, neither corked nor run dry.
  };

  OpaqueAudioQueue& queue_;
  std::shared_ptr<ServerConnection> server_;  // Outlives the stream.
  pa_threaded_mainloop* mainloop_;
  pa_context* context_;
  pa_stream* stream_ = nullptr;
  // Main loop's lock.
  pa_operation* drain_ = nullptr;  // A drain under way.
  pa_time_event* drain_deadline_ = nullptr;
  pa_time_event* idle_cork_ = nullptr;  // Armed once a drain has finished.
  UInt64 written_frames_ = 0;
  UInt64 heard_frames_ = 0;
  // The clock at the last look of the drain's deadline and of the idle cork.
  UInt64 drain_clock_seen_ = kClockUnseen;
  UInt64 idle_clock_seen_ = kClockUnseen;
  ClockReading clock_;
  bool playing_ = false;  // Started and not paused since.
};

}  // namespace

std::unique_ptr<AudioOutput> OpenPulseOutput(OpaqueAudioQueue& queue) {
  std::shared_ptr<ServerConnection> server = ConnectToServer();
  if (server == nullptr) {
    return nullptr;
  }
  auto output = std::make_unique<PulseOutput>(queue, std::move(server));
  if (!output->Connect()) {
    return nullptr;
  }
  return output;
}

}  // namespace pulse_platform
