#include "audio/platform/pipewire_output.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <utility>

#include "audio/platform/pipewire_connection.h"
#include "audio/platform/pipewire_stream_format.h"

// Some of PipeWire's own macros expand to GNU statement expressions.
#ifdef __clang__
#pragma clang diagnostic ignored "-Wgnu-statement-expression"
#endif

namespace pipewire_platform {
namespace {

using output_queue::AudioOutput;

// How long a pause waits for the server to say it has taken the stream out of the graph. The
// process may be stopped right after a pause (Ctrl-Z), and the clock should say where the sound
// stopped.
constexpr int64_t kPauseAnswerNs = 100'000'000;

// How long after its end an ended stream that stays in place is taken out of the graph.
constexpr int64_t kIdleCorkNs = 1'000'000'000;

constexpr UInt64 kClockUnseen = std::numeric_limits<UInt64>::max();

int64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

timespec Nanoseconds(int64_t ns) {
  return {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

class PipeWireOutput final : public AudioOutput {
 public:
  PipeWireOutput(OpaqueAudioQueue& queue, std::shared_ptr<GraphConnection> graph)
      : queue_(queue),
        graph_(std::move(graph)),
        thread_loop_(graph_->loop()),
        loop_(pw_thread_loop_get_loop(thread_loop_)),
        frame_bytes_(queue.format.mBytesPerFrame),
        rate_(static_cast<UInt64>(queue.format.mSampleRate)) {}

  // Takes the stream out of the graph at once, whatever it has not played. Waits for no answer
  // from the server, which may be hung: it ends the stream when it gets to it.
  ~PipeWireOutput() override {
    LoopLock lock(thread_loop_);
    closing_ = true;
    if (stream_ != nullptr) {
      // Once it returns, the data thread no longer calls into this output.
      pw_stream_disconnect(stream_);
    }
    if (!lost_.load()) {
      LogStream("closed");
    }
    for (spa_source* source : {drain_ended_, idle_cork_}) {
      if (source != nullptr) {
        pw_loop_destroy_source(loop_, source);
      }
    }
    if (core_listening_) {
      spa_hook_remove(&core_listener_);
    }
    if (stream_ != nullptr) {
      spa_hook_remove(&stream_listener_);
      pw_stream_destroy(stream_);
    }
  }

  // Makes the stream, inactive. The server takes it a little later, which the caller does not
  // wait for: a start or a pause meanwhile applies once it has.
  bool Connect() {
    LoopLock lock(thread_loop_);
    pw_properties* properties = StreamProperties(queue_.format);
    if (properties == nullptr) {
      return false;
    }
    stream_ = pw_stream_new(graph_->core(), "Music", properties);
    if (stream_ == nullptr) {
      return false;
    }
    pw_stream_add_listener(stream_, &stream_listener_, &StreamEvents(), this);
    pw_core_add_listener(graph_->core(), &core_listener_, &CoreEvents(), this);
    core_listening_ = true;
    drain_ended_ = pw_loop_add_event(loop_, OnDrainEnded, this);
    idle_cork_ = pw_loop_add_timer(loop_, OnIdleCork, this);
    if (drain_ended_ == nullptr || idle_cork_ == nullptr) {
      return false;
    }
    uint8_t memory[1024];
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, memory, sizeof memory);
    const spa_pod* formats[] = {StreamFormat(builder, queue_.format)};
    if (formats[0] == nullptr) {
      return false;
    }
    // The data thread's process call copies from the queue itself: nothing passes through the
    // loop's thread on the way to the graph.
    const auto flags =
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_INACTIVE |
                                     PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
    return pw_stream_connect(stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, formats, 1) == 0;
  }

  OSStatus Start() override {
    LoopLock lock(thread_loop_);
    Disarm(idle_cork_);
    start_count_.fetch_add(1);
    playing_.store(true);
    if (!lost_.load()) {
      pw_stream_set_active(stream_, true);
    }
    return noErr;
  }

  // The graph stops pulling from the stream: what the queue has not given it stays for the
  // resume.
  OSStatus Pause() override {
    LoopLock lock(thread_loop_);
    Disarm(idle_cork_);
    playing_.store(false);
    if (!lost_.load()) {
      pw_stream_set_active(stream_, false);
      if (graph_->AwaitServer(kPauseAnswerNs)) {
        CountTakenAsHeard();
      }
    }
    return noErr;
  }

  void Flush() override {
    LoopLock lock(thread_loop_);
    if (!lost_.load()) {
      pw_stream_flush(stream_, false);
    }
  }

  // The graph pulls what is enqueued at its next cycle, and the data thread finds a drain due.
  void Wake() override {}

  UInt64 HeardFrames() override { return heard_frames_.load(); }

 private:
  static const pw_stream_events& StreamEvents() {
    static const pw_stream_events events = [] {
      pw_stream_events table{};
      table.version = PW_VERSION_STREAM_EVENTS;
      table.state_changed = [](void* self, pw_stream_state, pw_stream_state state, const char*) {
        static_cast<PipeWireOutput*>(self)->OnStateChanged(state);
      };
      table.process = [](void* self) { static_cast<PipeWireOutput*>(self)->Process(); };
      return table;
    }();
    return events;
  }

  static const pw_core_events& CoreEvents() {
    static const pw_core_events events = [] {
      pw_core_events table{};
      table.version = PW_VERSION_CORE_EVENTS;
      table.error = [](void* self, uint32_t id, int, int res, const char*) {
        if (id == PW_ID_CORE && res == -EPIPE) {
          static_cast<PipeWireOutput*>(self)->Lose();
        }
      };
      return table;
    }();
    return events;
  }

  // The graph asks for the next quantum: runs on the data thread, in real time. Copies what the
  // queue has ready, reads the clock, and ends a drain once the graph has its last frame.
  void Process() {
    pw_buffer* buffer = pw_stream_dequeue_buffer(stream_);
    if (buffer == nullptr) {
      return;
    }
    spa_data& data = buffer->buffer->datas[0];
    if (data.data == nullptr) {
      return;
    }
    // The graph takes whole quanta: a shorter buffer would wait in its converter for the rest,
    // and the last frames of a track with it, so silence makes up what the queue lacks. Only the
    // PCM counts in the stream's size, which its position report counts queued frames by.
    const UInt64 quantum_frames = buffer->requested > 0 ? buffer->requested : kQuantumFrames;
    const auto capacity = static_cast<UInt32>(std::min<UInt64>(
        data.maxsize - data.maxsize % frame_bytes_, quantum_frames * frame_bytes_));
    const bool taking = playing_.load() && !lost_.load();
    const UInt32 taken = taking ? output_queue::TakePcm(queue_, data.data, capacity) : 0;
    if (first_frame_size_ == 0 && taken > 0) {
      first_frame_ns_ = MonotonicNs();
      first_frame_size_ = std::min<UInt32>(frame_bytes_, sizeof first_frame_);
      std::memcpy(first_frame_, data.data, first_frame_size_);
    }
    // 16-bit signed silence is all zero bytes.
    std::memset(static_cast<unsigned char*>(data.data) + taken, 0, capacity - taken);
    data.chunk->offset = 0;
    data.chunk->stride = static_cast<int32_t>(frame_bytes_);
    data.chunk->size = capacity;
    buffer->size = taken / frame_bytes_;
    pw_stream_queue_buffer(stream_, buffer);
    const UInt64 written = written_frames_.load() + taken / frame_bytes_;
    written_frames_.store(written);
    if (lost_.load()) {
      return;
    }
    pw_time time{};
    const bool timed =
        pw_stream_get_time_n(stream_, &time, sizeof time) == 0 && time.rate.denom != 0;
    if (timed) {
      const UInt64 heard = ReadClock(written, time);
      output_queue::MarkHeard(queue_, heard);
      last_report_ = {time, written, heard, taken / frame_bytes_};
    }
    // The last frames of a draining stop are in the graph's hands once queued: it mixes them in
    // this cycle, and its driver hands the mix on whatever becomes of the stream, so there is no
    // answer to wait for. Only a resampler holds the tail of a buffer back, until the next
    // cycle's input pushes it through.
    const bool drain_due = output_queue::DrainDue(queue_);
    if (drain_due && (drain_seen_ || (timed && time.buffered == 0))) {
      output_queue::FinishDrain(queue_);
      ended_at_start_.store(start_count_.load());
      pw_loop_signal_event(loop_, drain_ended_);
    }
    drain_seen_ = drain_due;
  }

  // Frames heard, from the stream's position report of this cycle: what the graph has taken
  // (written, less what waits in the stream's buffers and its resampler) less what is still on
  // its way to the device. The buffer queued just now is mixed as this cycle ends, unless the
  // server takes the stream out of the graph first, and nothing tells the stream which: it counts
  // only from the next cycle on. A server that goes away thus has the next stream play that
  // buffer again (one quantum, at most, heard twice) rather than skip it. The delay is the graph's
  // to its device; a frame taken at a tick is heard that long after, so once the stream runs dry
  // its last frames are heard as the ticks run on. Data thread.
  UInt64 ReadClock(UInt64 written, const pw_time& time) {
    const UInt64 waiting = std::min<UInt64>(written, time.queued + time.buffered);
    const UInt64 taken = written - waiting;
    if (taken > taken_frames_ || taken_ticks_ == kClockUnseen) {
      taken_frames_ = taken;
      taken_ticks_ = time.ticks;
    }
    const auto in_stream_frames = [this, &time](UInt64 ticks) {
      return ticks * rate_ * time.rate.num / time.rate.denom;
    };
    const UInt64 delay = in_stream_frames(static_cast<UInt64>(std::max<int64_t>(time.delay, 0)));
    const UInt64 since = in_stream_frames(time.ticks - std::min(time.ticks, taken_ticks_));
    const UInt64 on_the_way = std::min(taken_frames_, delay > since ? delay - since : 0);
    return RaiseHeard(taken_frames_ - on_the_way);
  }

  // Out of the graph, the quantum it mixed last is still handed to the device, and whatever was
  // on its way there is heard: the clock stands at what the graph took. Thread loop's lock held,
  // the data thread no longer called.
  void CountTakenAsHeard() {
    pw_time time{};
    if (pw_stream_get_time_n(stream_, &time, sizeof time) < 0) {
      return;
    }
    const UInt64 written = written_frames_.load();
    const UInt64 taken = written - std::min<UInt64>(written, time.queued + time.buffered);
    RaiseHeard(taken);
  }

  // The clock never goes back, whichever thread reads it last; the frames heard now.
  UInt64 RaiseHeard(UInt64 frames) {
    UInt64 heard = heard_frames_.load();
    while (heard < frames && !heard_frames_.compare_exchange_weak(heard, frames)) {
    }
    return std::max(heard, frames);
  }

  // Runs on the loop's thread.
  void OnStateChanged(pw_stream_state state) {
    if (state == PW_STREAM_STATE_ERROR || (state == PW_STREAM_STATE_UNCONNECTED && !closing_)) {
      Lose();
    }
  }

  // The server went away, or dropped the stream: the queue opens another, which plays on from
  // the clock, the buffer the graph took last included. Runs on the loop's thread.
  void Lose() {
    if (closing_ || lost_.exchange(true)) {
      return;
    }
    // A process call under way finishes before the queue rewinds to what was heard; the next
    // ones take nothing.
    pw_loop_invoke(
        graph_->data_loop(),
        [](spa_loop*, bool, uint32_t, const void*, size_t, void*) { return 0; }, 0, nullptr, 0,
        true, nullptr);
    LogStream("lost");
    Disarm(idle_cork_);
    output_queue::MarkHeard(queue_, heard_frames_.load());
    output_queue::LoseOutput(queue_);
  }

  // Appends to the file that BREVALO_PIPEWIRE_LOG names, if any, one line for the stream as it is
  // lost ("lost") or closed ("closed"): its last position report, what the clock made of it, and
  // the first frame the graph took from it, as bytes, with when. Restarts are measured from it
  // against a recording. Times are CLOCK_MONOTONIC's, the graph's own. Runs on the loop's thread
  // (lost) or the closing one (closed), once the data thread writes the report no more.
  void LogStream(const char* event) const {
    const char* path = std::getenv("BREVALO_PIPEWIRE_LOG");
    FILE* log = path != nullptr && *path != '\0' ? std::fopen(path, "a") : nullptr;
    if (log == nullptr) {
      return;
    }
    const pw_time& time = last_report_.time;
    std::fprintf(log,
                 "%s %" PRId64 " cycle %" PRId64 " ticks %" PRIu64 " rate %" PRIu32 "/%" PRIu32
                 " delay %" PRId64 " queued %" PRIu64 " buffered %" PRIu64 " written %" PRIu64
                 " heard %" PRIu64 " last %" PRIu64 " clock %" PRIu64,
                 event, MonotonicNs(), time.now, time.ticks, time.rate.num, time.rate.denom,
                 time.delay, time.queued, time.buffered, uint64_t{last_report_.written},
                 uint64_t{last_report_.heard}, uint64_t{last_report_.last},
                 uint64_t{heard_frames_.load()});
    if (first_frame_size_ > 0) {
      std::fprintf(log, " first ");
      for (UInt32 i = 0; i < first_frame_size_; ++i) {
        std::fprintf(log, "%02x", first_frame_[i]);
      }
      std::fprintf(log, " at %" PRId64, first_frame_ns_);
    }
    std::fprintf(log, "\n");
    std::fclose(log);
  }

  // The drain has ended: runs on the loop's thread.
  static void OnDrainEnded(void* self, uint64_t) {
    auto* output = static_cast<PipeWireOutput*>(self);
    // A start since means new frames play: the stream is not idle.
    if (output->ended_at_start_.load() == output->start_count_.load()) {
      output->Arm(output->idle_cork_, kIdleCorkNs);
    }
  }

  // A drained stream stays in the graph while its ended track stays in place, which may be until
  // the user quits. Running on empty, it would keep the whole graph cycling for it, and the
  // sound card from suspending; inactive, it costs nothing.
  static void OnIdleCork(void* self, uint64_t) {
    auto* output = static_cast<PipeWireOutput*>(self);
    output->Disarm(output->idle_cork_);
    output->playing_.store(false);
    if (!output->lost_.load()) {
      pw_stream_set_active(output->stream_, false);
    }
  }

  // Sets `timer` to fire `ns` from now, then every `interval_ns` if that is not zero.
  void Arm(spa_source* timer, int64_t ns, int64_t interval_ns = 0) {
    if (timer == nullptr) {
      return;
    }
    timespec value = Nanoseconds(ns);
    timespec interval = Nanoseconds(interval_ns);
    pw_loop_update_timer(loop_, timer, &value, &interval, false);
  }

  void Disarm(spa_source* timer) {
    if (timer == nullptr) {
      return;
    }
    timespec zero{};
    pw_loop_update_timer(loop_, timer, &zero, &zero, false);
  }

  OpaqueAudioQueue& queue_;
  std::shared_ptr<GraphConnection> graph_;  // Outlives the stream.
  pw_thread_loop* thread_loop_;
  pw_loop* loop_;
  const UInt32 frame_bytes_;
  const UInt64 rate_;
  // Set under the thread loop's lock while connecting; read-only after.
  pw_stream* stream_ = nullptr;
  spa_hook stream_listener_{};
  spa_hook core_listener_{};
  bool core_listening_ = false;
  spa_source* drain_ended_ = nullptr;  // Signalled by the data thread.
  spa_source* idle_cork_ = nullptr;
  // Thread loop's lock.
  bool closing_ = false;
  // Written on the data thread only.
  UInt64 taken_frames_ = 0;
  UInt64 taken_ticks_ = kClockUnseen;  // The graph's ticks when the last frame was taken.
  bool drain_seen_ = false;            // A drain was due at the last process call.
  // The last position report, and what the clock made of it; the first frame taken, once there is
  // one (its size is set last). Written on the data thread; read once it writes them no more: the
  // stream lost or disconnected.
  struct Report {
    pw_time time{};
    UInt64 written = 0;  // Frames given to the graph, the cycle's buffer included.
    UInt64 heard = 0;
    UInt64 last = 0;  // Frames of the cycle's buffer.
  } last_report_;
  unsigned char first_frame_[8]{};
  UInt32 first_frame_size_ = 0;
  int64_t first_frame_ns_ = 0;
  // Shared between the threads.
  std::atomic<UInt64> written_frames_{0};  // Written on the data thread.
  std::atomic<UInt64> heard_frames_{0};    // Written on the data thread.
  std::atomic<bool> playing_{false};       // Started and not paused or idle since.
  std::atomic<bool> lost_{false};
  std::atomic<UInt64> start_count_{0};     // Starts so far.
  std::atomic<UInt64> ended_at_start_{0};  // The start count when the last drain ended.
};

}  // namespace

std::unique_ptr<AudioOutput> OpenPipeWireOutput(OpaqueAudioQueue& queue) {
  std::shared_ptr<GraphConnection> graph = ConnectToGraph();
  if (graph == nullptr) {
    return nullptr;
  }
  auto output = std::make_unique<PipeWireOutput>(queue, std::move(graph));
  if (!output->Connect()) {
    return nullptr;
  }
  return output;
}

}  // namespace pipewire_platform
