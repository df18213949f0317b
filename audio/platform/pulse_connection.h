#pragma once

// The process's one connection to the desktop's sound server (PulseAudio, or PipeWire's Pulse
// service): a threaded main loop and a context, made on first use and kept until the process
// exits. Every stream of the program lives on it.

#include <functional>
#include <memory>

#include <pulse/pulseaudio.h>

namespace pulse_platform {

// A connection to the server: a context, and the thread of its main loop. Disconnected and
// stopped when the last holder lets go.
class ServerConnection {
 public:
  ServerConnection();
  ~ServerConnection();
  ServerConnection(const ServerConnection&) = delete;
  ServerConnection& operator=(const ServerConnection&) = delete;

  // Connects to the server the environment names, or the desktop's own, and waits up to two
  // seconds for it to answer and to name a default sink; false when either does not come.
  // Never starts a server.
  bool Open();
  // True while the context is connected. Takes the main loop's lock.
  bool Alive();

  pa_threaded_mainloop* mainloop() const { return mainloop_; }
  pa_context* context() const { return context_; }

 private:
  // A new context, connected or failed by `deadline`. Main loop's lock held.
  bool ConnectContext(pa_usec_t deadline);
  void DisconnectContext();

  pa_threaded_mainloop* mainloop_;
  pa_context* context_ = nullptr;
};

// The live connection, made now if there is none or the last one has failed; null when no
// server answers. Thread-safe.
std::shared_ptr<ServerConnection> ConnectToServer();

// True when the server answered this process once but not the last time it was asked: it is
// restarting, or gone. Thread-safe.
bool ServerIsAway();

// Waits, with the main loop's lock held, until `ready` holds; it is asked again whenever the
// main loop signals. False when the server has not brought it about within `patience`.
bool WaitForServer(pa_threaded_mainloop* mainloop, pa_context* context,
                   const std::function<bool()>& ready, pa_usec_t patience);

// Holds the main loop's lock for a scope: the main loop's thread is then outside every
// callback. Not for use on that thread.
class MainloopLock {
 public:
  explicit MainloopLock(pa_threaded_mainloop* mainloop) : mainloop_(mainloop) {
    pa_threaded_mainloop_lock(mainloop_);
  }
  ~MainloopLock() { pa_threaded_mainloop_unlock(mainloop_); }
  MainloopLock(const MainloopLock&) = delete;
  MainloopLock& operator=(const MainloopLock&) = delete;

 private:
  // A new context, connected or failed by `deadline`. Main loop's lock held.
  bool ConnectContext(pa_usec_t deadline);
  void DisconnectContext();

  pa_threaded_mainloop* mainloop_;
};

}  // namespace pulse_platform
