#pragma once

// The process's one connection to PipeWire through its own protocol: a thread loop (the
// connection's main loop), a context with its data thread, and the core of the connection to
// the server. Made on first use and kept while it holds; every PipeWire stream of the program
// lives on it.

#include <cstdint>
#include <memory>

#include <pipewire/extensions/metadata.h>
#include <pipewire/pipewire.h>

namespace pipewire_platform {

// A connection to the PipeWire server. Disconnected, and its threads stopped, when the last
// holder lets go.
class GraphConnection {
 public:
  GraphConnection() = default;
  ~GraphConnection();
  GraphConnection(const GraphConnection&) = delete;
  GraphConnection& operator=(const GraphConnection&) = delete;

  // Connects to the server the environment names (PIPEWIRE_REMOTE, PIPEWIRE_RUNTIME_DIR,
  // XDG_RUNTIME_DIR), and waits up to two seconds for it to answer and for its session manager
  // to name a default sink; false when either does not come. Never starts a server.
  bool Open();
  // True while the connection has not been lost. Takes the thread loop's lock.
  bool Alive();

  // Waits, with the thread loop's lock held, until the server has handled every request sent
  // before, for at most `patience_ns`; false when it has not.
  bool AwaitServer(int64_t patience_ns);

  pw_thread_loop* loop() const { return loop_; }
  pw_core* core() const { return core_; }
  // The loop of the data thread, where streams copy their PCM each cycle of the graph.
  pw_loop* data_loop() const { return pw_data_loop_get_loop(pw_context_get_data_loop(context_)); }

 private:
  // Run on the thread loop's thread.
  void OnCoreDone(uint32_t id, int seq);
  void OnCoreError(uint32_t id, int res);
  void OnGlobal(uint32_t id, const char* type, const spa_dict* props);
  void OnDefaultChanged(uint32_t subject, const char* key, const char* value);

  bool StartThreads();
  bool AwaitDefaultSink(const timespec& deadline);
  void BindMetadata();
  void ForgetMetadata();
  // Waits, lock held, until `done` holds or `deadline` (the loop's clock) passes.
  template <typename Done>
  bool WaitUntil(const timespec& deadline, Done done);

  pw_thread_loop* loop_ = nullptr;
  pw_context* context_ = nullptr;
  pw_core* core_ = nullptr;
  spa_hook core_listener_{};
  // Guarded by the thread loop's lock; written on its thread.
  int answered_seq_ = 0;  // The last sync the server has answered.
  bool lost_ = false;
  // Only while Open waits for a default sink.
  pw_registry* registry_ = nullptr;
  spa_hook registry_listener_{};
  uint32_t metadata_id_ = SPA_ID_INVALID;  // The "default" metadata's, once seen.
  pw_metadata* metadata_ = nullptr;
  spa_hook metadata_listener_{};
  bool sink_named_ = false;
};

// The live connection, made now if there is none or the last one was lost; null when no
// PipeWire server answers. Thread-safe.
std::shared_ptr<GraphConnection> ConnectToGraph();

// True when a PipeWire server answered this process once but not the last time it was asked:
// it is restarting, or gone. Thread-safe.
bool GraphIsAway();

// Holds the thread loop's lock for a scope: its thread is then outside every callback. Not for
// use on that thread.
class LoopLock {
 public:
  explicit LoopLock(pw_thread_loop* loop) : loop_(loop) { pw_thread_loop_lock(loop_); }
  ~LoopLock() { pw_thread_loop_unlock(loop_); }
  LoopLock(const LoopLock&) = delete;
  LoopLock& operator=(const LoopLock&) = delete;

 private:
  pw_thread_loop* loop_;
};

}  // namespace pipewire_platform
