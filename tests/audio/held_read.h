#pragma once

// A read of the loader held where storage that does not answer would hold it, over the fake
// platform.

#include <condition_variable>
#include <memory>
#include <mutex>

namespace engine_test {

// Holds the loader's next read at the open of what it read, as a read of storage that does not
// answer holds it, until Release. Released at the latest when it goes.
class HeldRead {
 public:
  HeldRead();
  ~HeldRead();
  HeldRead(const HeldRead&) = delete;
  HeldRead& operator=(const HeldRead&) = delete;

  // True once a read has reached the hold.
  bool Reached() const;
  // Waits until a read has reached the hold; false after the patience.
  bool WaitUntilReached() const;
  // Lets the read go on.
  void Release();
  // Lets the read go on, then waits until it has opened its file and `files_kept` files are
  // open: with what the engine still holds, the read's answer dropped or kept. So no thread of
  // the loader still runs into the next test.
  bool ReleaseAndWaitUntilClosed(int files_kept = 0);

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    bool reached = false;
    bool released = false;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace engine_test
