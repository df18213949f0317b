#include "audio/platform/pulse_connection.h"

#include <algorithm>
#include <functional>
#include <memory>

#include "audio/platform/connection_slot.h"

namespace pulse_platform {
namespace {

constexpr pa_usec_t kServerTimeoutUsec = 2 * PA_USEC_PER_SEC;
constexpr pa_usec_t kAskAgainUsec = 100 * PA_USEC_PER_MSEC;
// How long one connection waits for the server to name a default sink before a new one asks.
constexpr pa_usec_t kSinkPatienceUsec = 500 * PA_USEC_PER_MSEC;

struct Deadline {
  pa_threaded_mainloop* mainloop;
  bool passed = false;
};

void OnDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* user_data) {
  auto* deadline = static_cast<Deadline*>(user_data);
  deadline->passed = true;
  pa_threaded_mainloop_signal(deadline->mainloop, 0);
}

void OnContextState(pa_context*, void* mainloop) {
  pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(mainloop), 0);
}

// What the server says of its default sink, while a connection waits for one.
struct SinkWatch {
  pa_threaded_mainloop* mainloop;
  pa_operation* asking = nullptr;
  bool named = false;
};

void OnServerInfo(pa_context*, const pa_server_info* info, void* user_data) {
  auto* watch = static_cast<SinkWatch*>(user_data);
  const char* sink = info != nullptr ? info->default_sink_name : nullptr;
  // "@DEFAULT_SINK@" stands in while nothing has chosen a sink.
  watch->named = sink != nullptr && *sink != '\0' && *sink != '@';
  pa_threaded_mainloop_signal(watch->mainloop, 0);
}

void AskForDefaultSink(pa_context* context, SinkWatch& watch) {
  if (watch.asking != nullptr) {
    pa_operation_cancel(watch.asking);
    pa_operation_unref(watch.asking);
  }
  watch.asking = pa_context_get_server_info(context, OnServerInfo, &watch);
}

void OnServerChanged(pa_context* context, pa_subscription_event_type_t, uint32_t, void* user_data) {
  AskForDefaultSink(context, *static_cast<SinkWatch*>(user_data));
}

void Forget(pa_operation* operation) {
  if (operation != nullptr) {
    pa_operation_unref(operation);
  }
}

// Waits until the server names a default sink, for at most `patience`. PipeWire's Pulse service
// answers before its session manager has started, and names none until then; a stream made in
// that window is never linked, and from then on the service answers no client that connects
// (`pactl info` hangs, and so does the desktop's volume control) until that stream goes.
bool WaitForDefaultSink(pa_threaded_mainloop* mainloop, pa_context* context, pa_usec_t patience) {
  SinkWatch watch{mainloop};
  pa_context_set_subscribe_callback(context, OnServerChanged, &watch);
  Forget(pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr));
  const auto settled = [&watch, context] {
    return watch.named || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context));
  };
  // Asked again now and then as well: a change of the default may come without an event.
  const pa_usec_t deadline = pa_rtclock_now() + patience;
  for (pa_usec_t now = pa_rtclock_now(); !settled() && now < deadline; now = pa_rtclock_now()) {
    AskForDefaultSink(context, watch);
    WaitForServer(mainloop, context, settled, std::min(kAskAgainUsec, deadline - now));
  }
  pa_context_set_subscribe_callback(context, nullptr, nullptr);
  Forget(pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_NULL, nullptr, nullptr));
  if (watch.asking != nullptr) {
    pa_operation_cancel(watch.asking);
    pa_operation_unref(watch.asking);
  }
  return watch.named;
}

}  // namespace

bool WaitForServer(pa_threaded_mainloop* mainloop, pa_context* context,
                   const std::function<bool()>& ready, pa_usec_t patience) {
  Deadline deadline{mainloop};
  pa_time_event* timer =
      pa_context_rttime_new(context, pa_rtclock_now() + patience, OnDeadline, &deadline);
  while (!ready() && !deadline.passed) {
    pa_threaded_mainloop_wait(mainloop);
  }
  if (timer != nullptr) {
    pa_threaded_mainloop_get_api(mainloop)->time_free(timer);
  }
  return ready();
}

ServerConnection::ServerConnection() : mainloop_(pa_threaded_mainloop_new()) {}

ServerConnection::~ServerConnection() {
  if (mainloop_ == nullptr) {
    return;
  }
  if (context_ != nullptr) {
    MainloopLock lock(mainloop_);
    DisconnectContext();
  }
  pa_threaded_mainloop_stop(mainloop_);
  pa_threaded_mainloop_free(mainloop_);
}

bool ServerConnection::Open() {
  if (mainloop_ == nullptr || pa_threaded_mainloop_start(mainloop_) < 0) {
    return false;
  }
  MainloopLock lock(mainloop_);
  const pa_usec_t deadline = pa_rtclock_now() + kServerTimeoutUsec;
  // PipeWire's Pulse service may go on telling a connection made before its session manager
  // named a sink that there is none, for seconds after a new connection is told of it: a
  // connection that waits in vain gives way to a new one.
  while (ConnectContext(deadline)) {
    const pa_usec_t left = deadline - std::min(deadline, pa_rtclock_now());
    if (WaitForDefaultSink(mainloop_, context_, std::min(left, kSinkPatienceUsec))) {
      return true;
    }
    if (pa_rtclock_now() >= deadline) {
      return false;
    }
    DisconnectContext();
  }
  return false;
}

bool ServerConnection::ConnectContext(pa_usec_t deadline) {
  pa_proplist* properties = pa_proplist_new();
  pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Brevalo");
  pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "brevalo");
  pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, "audio-x-generic");
  context_ =
      pa_context_new_with_proplist(pa_threaded_mainloop_get_api(mainloop_), "Brevalo", properties);
  pa_proplist_free(properties);
  if (context_ == nullptr) {
    return false;
  }
  pa_context_set_state_callback(context_, OnContextState, mainloop_);
  // A desktop runs its server already; one spawned for us would outlive the program.
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    return false;
  }
  WaitForServer(
      mainloop_, context_,
      [this] {
        return !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) ||
               pa_context_get_state(context_) == PA_CONTEXT_READY;
      },
      deadline - std::min(deadline, pa_rtclock_now()));
  return pa_context_get_state(context_) == PA_CONTEXT_READY;
}

void ServerConnection::DisconnectContext() {
  pa_context_set_state_callback(context_, nullptr, nullptr);
  pa_context_disconnect(context_);
  pa_context_unref(context_);
  context_ = nullptr;
}

bool ServerConnection::Alive() {
  MainloopLock lock(mainloop_);
  return context_ != nullptr && pa_context_get_state(context_) == PA_CONTEXT_READY;
}

namespace {

audio_platform::ConnectionSlot<ServerConnection>& Slot() {
  static audio_platform::ConnectionSlot<ServerConnection> slot;
  return slot;
}

}  // namespace

std::shared_ptr<ServerConnection> ConnectToServer() { return Slot().Connect(); }

bool ServerIsAway() { return Slot().Away(); }

}  // namespace pulse_platform
