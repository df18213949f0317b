#include "audio/platform/pipewire_connection.h"

#include <cerrno>
#include <cstring>

#include <signal.h>
#include <spa/utils/result.h>

#include "audio/platform/connection_slot.h"

// Some of PipeWire's own macros expand to GNU statement expressions.
#ifdef __clang__
#pragma clang diagnostic ignored "-Wgnu-statement-expression"
#endif

namespace pipewire_platform {
namespace {

constexpr int64_t kServerTimeoutNs = 2'000'000'000;
constexpr int64_t kAskAgainNs = 100'000'000;

bool Before(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// The library once for the process, with its logging off: it would write to the terminal.
void InitLibraryOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    pw_init(nullptr, nullptr);
    pw_log_set_level(SPA_LOG_LEVEL_NONE);
  });
}

// Blocks every signal for a scope: the threads started meanwhile inherit the mask, and
// signals belong to the program's main thread.
class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &before_);
  }
  ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
  SignalsBlocked(const SignalsBlocked&) = delete;
  SignalsBlocked& operator=(const SignalsBlocked&) = delete;

 private:
  sigset_t before_;
};

// Sync numbers grow by one for each request; the server answers them in order.
bool AnsweredBy(int answered, int seq) {
  return SPA_RESULT_ASYNC_SEQ(answered) - SPA_RESULT_ASYNC_SEQ(seq) >= 0;
}

}  // namespace

GraphConnection::~GraphConnection() {
  if (loop_ == nullptr) {
    return;
  }
  if (core_ != nullptr) {
    LoopLock lock(loop_);
    spa_hook_remove(&core_listener_);
    pw_core_disconnect(core_);
  }
  pw_thread_loop_stop(loop_);
  if (context_ != nullptr) {
    pw_context_destroy(context_);
  }
  pw_thread_loop_destroy(loop_);
}

bool GraphConnection::StartThreads() {
  InitLibraryOnce();
  const SignalsBlocked blocked;
  loop_ = pw_thread_loop_new("brevalo-pipewire", nullptr);
  if (loop_ == nullptr) {
    return false;
  }
  // The real-time variant gives the data thread, which copies PCM each cycle of the graph, the
  // scheduling the desktop allows an audio client.
  context_ = pw_context_new(pw_thread_loop_get_loop(loop_),
                            pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0);
  return context_ != nullptr && pw_thread_loop_start(loop_) == 0;
}

bool GraphConnection::Open() {
  if (!StartThreads()) {
    return false;
  }
  LoopLock lock(loop_);
  timespec deadline{};
  pw_thread_loop_get_time(loop_, &deadline, kServerTimeoutNs);
  // A desktop runs its server already; the library never starts one.
  core_ = pw_context_connect(context_,
                             pw_properties_new(PW_KEY_APP_NAME, "Brevalo", PW_KEY_APP_ID, "brevalo",
                                               PW_KEY_APP_ICON_NAME, "audio-x-generic", nullptr),
                             0);
  if (core_ == nullptr) {
    return false;
  }
  static const pw_core_events kCoreEvents = [] {
    pw_core_events events{};
    events.version = PW_VERSION_CORE_EVENTS;
    events.done = [](void* self, uint32_t id, int seq) {
      static_cast<GraphConnection*>(self)->OnCoreDone(id, seq);
    };
    events.error = [](void* self, uint32_t id, int, int res, const char*) {
      static_cast<GraphConnection*>(self)->OnCoreError(id, res);
    };
    return events;
  }();
  pw_core_add_listener(core_, &core_listener_, &kCoreEvents, this);
  const int seq = pw_core_sync(core_, PW_ID_CORE, 0);
  return WaitUntil(deadline, [this, seq] { return lost_ || AnsweredBy(answered_seq_, seq); }) &&
         !lost_ && AwaitDefaultSink(deadline);
}

bool GraphConnection::Alive() {
  LoopLock lock(loop_);
  return core_ != nullptr && !lost_;
}

bool GraphConnection::AwaitServer(int64_t patience_ns) {
  if (lost_) {
    return false;
  }
  timespec deadline{};
  pw_thread_loop_get_time(loop_, &deadline, patience_ns);
  const int seq = pw_core_sync(core_, PW_ID_CORE, 0);
  return WaitUntil(deadline, [this, seq] { return lost_ || AnsweredBy(answered_seq_, seq); }) &&
         !lost_;
}

template <typename Done>
bool GraphConnection::WaitUntil(const timespec& deadline, Done done) {
  while (!done()) {
    if (pw_thread_loop_timed_wait_full(loop_, const_cast<timespec*>(&deadline)) != 0) {
      break;
    }
  }
  return done();
}

// The session manager names the default sink in the "default" metadata once it runs. A stream
// made before then would wait unlinked, and the sound would come back later than it could.
bool GraphConnection::AwaitDefaultSink(const timespec& deadline) {
  static const pw_registry_events kRegistryEvents = [] {
    pw_registry_events events{};
    events.version = PW_VERSION_REGISTRY_EVENTS;
    events.global = [](void* self, uint32_t id, uint32_t, const char* type, uint32_t,
                       const spa_dict* props) {
      static_cast<GraphConnection*>(self)->OnGlobal(id, type, props);
    };
    return events;
  }();
  registry_ = pw_core_get_registry(core_, PW_VERSION_REGISTRY, 0);
  if (registry_ == nullptr) {
    return false;
  }
  pw_registry_add_listener(registry_, &registry_listener_, &kRegistryEvents, this);
  bool named = false;
  while (true) {
    timespec step{};
    pw_thread_loop_get_time(loop_, &step, kAskAgainNs);
    const bool last = !Before(step, deadline);
    named = WaitUntil(last ? deadline : step, [this] { return lost_ || sink_named_; }) && !lost_;
    if (named || lost_ || last) {
      break;
    }
    // Bound afresh, the metadata tells every property it holds: on a server that has just
    // started, one bound early has not always told the default sink set after.
    if (metadata_ != nullptr) {
      ForgetMetadata();
      BindMetadata();
    }
  }
  ForgetMetadata();
  spa_hook_remove(&registry_listener_);
  pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry_));
  registry_ = nullptr;
  return named;
}

void GraphConnection::BindMetadata() {
  static const pw_metadata_events kMetadataEvents = [] {
    pw_metadata_events events{};
    events.version = PW_VERSION_METADATA_EVENTS;
    events.property = [](void* self, uint32_t subject, const char* key, const char*,
                         const char* value) {
      static_cast<GraphConnection*>(self)->OnDefaultChanged(subject, key, value);
      return 0;
    };
    return events;
  }();
  metadata_ = static_cast<pw_metadata*>(pw_registry_bind(
      registry_, metadata_id_, PW_TYPE_INTERFACE_Metadata, PW_VERSION_METADATA, 0));
  if (metadata_ != nullptr) {
    pw_metadata_add_listener(metadata_, &metadata_listener_, &kMetadataEvents, this);
  }
}

void GraphConnection::ForgetMetadata() {
  if (metadata_ != nullptr) {
    spa_hook_remove(&metadata_listener_);
    pw_proxy_destroy(reinterpret_cast<pw_proxy*>(metadata_));
    metadata_ = nullptr;
  }
}

void GraphConnection::OnCoreDone(uint32_t id, int seq) {
  if (id == PW_ID_CORE) {
    answered_seq_ = seq;
    pw_thread_loop_signal(loop_, false);
  }
}

void GraphConnection::OnCoreError(uint32_t id, int res) {
  // The server went away: the socket closed under the connection.
  if (id == PW_ID_CORE && res == -EPIPE) {
    lost_ = true;
    pw_thread_loop_signal(loop_, false);
  }
}

void GraphConnection::OnGlobal(uint32_t id, const char* type, const spa_dict* props) {
  const char* name = props != nullptr ? spa_dict_lookup(props, PW_KEY_METADATA_NAME) : nullptr;
  if (metadata_ == nullptr && std::strcmp(type, PW_TYPE_INTERFACE_Metadata) == 0 &&
      name != nullptr && std::strcmp(name, "default") == 0) {
    metadata_id_ = id;
    BindMetadata();
  }
}

void GraphConnection::OnDefaultChanged(uint32_t subject, const char* key, const char* value) {
  if (subject == PW_ID_CORE && key != nullptr && std::strcmp(key, "default.audio.sink") == 0) {
    sink_named_ = value != nullptr && *value != '\0';
    pw_thread_loop_signal(loop_, false);
  }
}

namespace {

audio_platform::ConnectionSlot<GraphConnection>& Slot() {
  static audio_platform::ConnectionSlot<GraphConnection> slot;
  return slot;
}

}  // namespace

std::shared_ptr<GraphConnection> ConnectToGraph() { return Slot().Connect(); }

bool GraphIsAway() { return Slot().Away(); }

}  // namespace pipewire_platform
