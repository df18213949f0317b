#include "audio/platform/pulse_connection.h"

#include <functional>
#include <memory>
#include <mutex>

namespace pulse_platform {
namespace {

constexpr pa_usec_t kServerTimeoutUsec = 2 * PA_USEC_PER_SEC;

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

// Waits, with the main loop's lock held, until `ready` holds; it is asked again whenever the
// main loop signals. False when the server has not brought it about within two seconds.
bool WaitForServer(pa_threaded_mainloop* mainloop, pa_context* context,
                   const std::function<bool()>& ready) {
  Deadline deadline{mainloop};
  pa_time_event* timer =
      pa_context_rttime_new(context, pa_rtclock_now() + kServerTimeoutUsec, OnDeadline, &deadline);
  while (!ready() && !deadline.passed) {
    pa_threaded_mainloop_wait(mainloop);
  }
  if (timer != nullptr) {
    pa_threaded_mainloop_get_api(mainloop)->time_free(timer);
  }
  return ready();
}

}  // namespace

ServerConnection::ServerConnection() : mainloop_(pa_threaded_mainloop_new()) {}

ServerConnection::~ServerConnection() {
  if (mainloop_ == nullptr) {
    return;
  }
  if (context_ != nullptr) {
    MainloopLock lock(mainloop_);
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
  }
  pa_threaded_mainloop_stop(mainloop_);
  pa_threaded_mainloop_free(mainloop_);
}

bool ServerConnection::Open() {
  if (mainloop_ == nullptr || pa_threaded_mainloop_start(mainloop_) < 0) {
    return false;
  }
  MainloopLock lock(mainloop_);
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
  WaitForServer(mainloop_, context_, [this] {
    return !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) ||
           pa_context_get_state(context_) == PA_CONTEXT_READY;
  });
  return pa_context_get_state(context_) == PA_CONTEXT_READY;
}

bool ServerConnection::Ready() {
  MainloopLock lock(mainloop_);
  return context_ != nullptr && pa_context_get_state(context_) == PA_CONTEXT_READY;
}

namespace {

struct ConnectionSlot {
  std::mutex mutex;
  std::shared_ptr<ServerConnection> connection;
  bool answered_once = false;
  bool away = false;  // It answered once, and the last try found none.
};

ConnectionSlot& Slot() {
  static ConnectionSlot slot;
  return slot;
}

}  // namespace

std::shared_ptr<ServerConnection> ConnectToServer() {
  ConnectionSlot& slot = Slot();
  std::lock_guard<std::mutex> lock(slot.mutex);
  if (slot.connection == nullptr || !slot.connection->Ready()) {
    // A server that went away may be back; a new connection finds it.
    slot.connection = std::make_shared<ServerConnection>();
    if (!slot.connection->Open()) {
      slot.connection.reset();
    }
    slot.answered_once = slot.answered_once || slot.connection != nullptr;
    slot.away = slot.answered_once && slot.connection == nullptr;
  }
  return slot.connection;
}

bool ServerIsAway() {
  ConnectionSlot& slot = Slot();
  std::lock_guard<std::mutex> lock(slot.mutex);
  return slot.away;
}

}  // namespace pulse_platform
