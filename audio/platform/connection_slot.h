#pragma once

// The process keeps one connection to each sound server, shared by all its streams, and makes
// it again once the server has come back from a restart.

#include <memory>
#include <mutex>

namespace audio_platform {

// The one connection to a server. `Connection` is made empty, then `Open()` connects it (false
// when no server answers) and `Alive()` says whether it has been lost since.
//
// Lock: `mutex_` is held while a connection is opened, up to the connection's own patience
// (two seconds), so a second caller waits for the first one's answer instead of opening
// another connection beside it.
template <typename Connection>
class ConnectionSlot {
 public:
  // The live connection, made now if there is none or the last one was lost; null when no
  // server answers. Thread-safe.
  std::shared_ptr<Connection> Connect() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (connection_ == nullptr || !connection_->Alive()) {
      // A server that went away may be back; a new connection finds it.
      connection_ = std::make_shared<Connection>();
      if (!connection_->Open()) {
        connection_.reset();
      }
      answered_once_ = answered_once_ || connection_ != nullptr;
      away_ = answered_once_ && connection_ == nullptr;
    }
    return connection_;
  }

  // True when the server answered once but not the last time it was asked: it is restarting,
  // or gone. Thread-safe.
  bool Away() {
    std::lock_guard<std::mutex> lock(mutex_);
    return away_;
  }

 private:
  std::mutex mutex_;
  std::shared_ptr<Connection> connection_;
  bool answered_once_ = false;
  bool away_ = false;
};

}  // namespace audio_platform
