#include "audio/track_loader.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

namespace {

// How long stopping the loader waits for a thread that is not at a request: it only has to
// wake up.
constexpr auto kStopPatience = std::chrono::milliseconds(50);

// What the caller and the loader's thread share; the thread holds its own reference, so that a
// thread left in a read after the stop still has it.
struct LoaderShared {
  std::mutex mutex;
  std::condition_variable changed;
  // Guarded by `mutex`.
  std::uint64_t wanted = 0;  // The request to answer; 0 for none.
  std::uint64_t last = 0;    // The number of the latest request made.
  std::string path;
  std::int64_t size_limit = 0;
  std::optional<LoadedFile> answer;  // For `wanted`, once read.
  bool quit = false;
  bool reading = false;  // The thread is at a request, maybe in a read of slow storage.
  bool ended = false;    // The thread has left its loop.
};

bool StillWanted(LoaderShared& shared, std::uint64_t request) {
  std::lock_guard<std::mutex> lock(shared.mutex);
  return shared.wanted == request && !shared.quit;
}

// True when `path` names a regular file larger than `limit`; the load tells every other case.
bool LargerThan(const std::string& path, std::int64_t limit) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > limit;
}

LoadedFile Load(LoaderShared& shared, std::uint64_t request, const std::string& path,
                std::int64_t size_limit) {
  LoadedFile file;
  file.request = request;
  file.path = path;
  if (LargerThan(path, size_limit)) {
    file.deferred = true;
    return file;
  }
  OwnedTrack track(new (std::nothrow) AudioTrack);
  if (track == nullptr) {
    file.failure_lines = "Failed to read file: Cannot allocate memory\n";
    return file;
  }
  LoadControl control;
  control.still_wanted = [&shared, request] { return StillWanted(shared, request); };
  control.failure_lines = &file.failure_lines;
  if (LoadTrack(track.get(), path.c_str(), control) == 0) {
    file.track = std::move(track);
  }
  return file;
}

// The loader's thread: answers the wanted request, then waits for the next. An answer nobody
// wants any more is dropped here, its track closed.
void AnswerRequests(std::shared_ptr<LoaderShared> shared) {
  // Signals belong to the program's main thread.
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
  std::unique_lock<std::mutex> lock(shared->mutex);
  std::uint64_t answered = 0;
  while (true) {
    shared->changed.wait(lock, [&] { return shared->quit || shared->wanted != answered; });
    if (shared->quit) {
      break;
    }
    const std::uint64_t request = shared->wanted;
    const std::string path = shared->path;
    const std::int64_t size_limit = shared->size_limit;
    answered = request;
    shared->reading = true;
    lock.unlock();
    LoadedFile file = Load(*shared, request, path, size_limit);
    lock.lock();
    shared->reading = false;
    if (shared->wanted == request && !shared->quit) {
      shared->answer = std::move(file);
    } else {
      lock.unlock();
      file.track.reset();
      lock.lock();
    }
  }
  shared->ended = true;
  shared->changed.notify_all();
}

}  // namespace

struct TrackLoader {
  std::shared_ptr<LoaderShared> shared;
  std::thread thread;
};

TrackLoader* StartTrackLoader() {
  auto loader = std::make_unique<TrackLoader>();
  loader->shared = std::make_shared<LoaderShared>();
  try {
    loader->thread = std::thread(AnswerRequests, loader->shared);
  } catch (const std::system_error&) {
    return nullptr;
  }
  return loader.release();
}

std::uint64_t RequestFile(TrackLoader* loader, const std::string& path, std::int64_t size_limit) {
  LoaderShared& shared = *loader->shared;
  std::optional<LoadedFile> dropped;
  std::uint64_t request = 0;
  {
    std::lock_guard<std::mutex> lock(shared.mutex);
    request = ++shared.last;
    shared.wanted = request;
    shared.path = path;
    shared.size_limit = size_limit;
    dropped = std::exchange(shared.answer, std::nullopt);
  }
  shared.changed.notify_all();
  return request;
}

void CancelRequest(TrackLoader* loader) {
  LoaderShared& shared = *loader->shared;
  std::optional<LoadedFile> dropped;
  std::lock_guard<std::mutex> lock(shared.mutex);
  shared.wanted = 0;
  dropped = std::exchange(shared.answer, std::nullopt);
}

bool TakeLoadedFile(TrackLoader* loader, LoadedFile* answer) {
  LoaderShared& shared = *loader->shared;
  std::lock_guard<std::mutex> lock(shared.mutex);
  if (!shared.answer.has_value() || shared.answer->request != shared.wanted) {
    return false;
  }
  *answer = std::move(*shared.answer);
  shared.answer.reset();
  shared.wanted = 0;
  return true;
}

void StopTrackLoader(TrackLoader* loader) {
  if (loader == nullptr) {
    return;
  }
  LoaderShared& shared = *loader->shared;
  std::optional<LoadedFile> dropped;
  bool ended = false;
  {
    std::unique_lock<std::mutex> lock(shared.mutex);
    shared.quit = true;
    shared.wanted = 0;
    dropped = std::exchange(shared.answer, std::nullopt);
    shared.changed.notify_all();
    // A read of slow storage is not waited for: the thread drops what it read and ends by
    // itself once the read returns.
    ended = !shared.reading &&
            shared.changed.wait_for(lock, kStopPatience, [&shared] { return shared.ended; });
  }
  if (ended) {
    loader->thread.join();
  } else {
    loader->thread.detach();
  }
  delete loader;
}
