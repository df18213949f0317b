#include "audio/track_loader.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <utility>

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

namespace {

// How long quitting waits for readers at a request: enough to see the quit between two stretches
// of a file that is being read, not for storage that does not answer.
constexpr auto kStopPatience = std::chrono::milliseconds(50);

struct Job {
  RequestId request = 0;
  std::string path;
  std::int64_t size_limit = 0;
};

// True when `path` names a regular file larger than `limit`; the load tells every other case.
bool LargerThan(const std::string& path, std::int64_t limit) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > limit;
}

}  // namespace

struct TrackLoader::Shared {
  std::mutex mutex;
  std::condition_variable changed;
  // Guarded by `mutex`.
  RequestId last = 0;
  std::deque<Job> queued;
  std::vector<RequestId> live;  // Queued, being read, or answered and not taken yet.
  std::vector<LoadedFile> answers;
  std::vector<bool> busy;  // Per reader: inside a request.
  int free_readers = 0;
  bool quit = false;

  bool Live(RequestId request) const {
    return std::find(live.begin(), live.end(), request) != live.end();
  }
  void Forget(RequestId request) {
    live.erase(std::remove(live.begin(), live.end(), request), live.end());
  }
};

namespace {

using Shared = TrackLoader::Shared;

bool StillWanted(Shared& shared, RequestId request) {
  std::lock_guard<std::mutex> lock(shared.mutex);
  return !shared.quit && shared.Live(request);
}

LoadedFile Load(Shared& shared, const Job& job) {
  LoadedFile file;
  file.request = job.request;
  file.path = job.path;
  if (LargerThan(job.path, job.size_limit)) {
    file.too_large = true;
    return file;
  }
  OwnedTrack track(new (std::nothrow) AudioTrack);
  if (track == nullptr) {
    file.failure_lines = "Failed to read file: Cannot allocate memory\n";
    return file;
  }
  LoadControl control;
  control.still_wanted = [&shared, request = job.request] { return StillWanted(shared, request); };
  control.failure_lines = &file.failure_lines;
  if (LoadTrack(track.get(), job.path.c_str(), control) == 0) {
    file.track = std::move(track);
  }
  return file;
}

// Keeps the answer if its request still stands; else hands it back to be dropped. `mutex` held.
std::optional<LoadedFile> Answer(Shared& shared, LoadedFile file) {
  if (shared.quit || !shared.Live(file.request)) {
    return file;
  }
  shared.answers.push_back(std::move(file));
  return std::nullopt;
}

// A reader's thread: reads the oldest queued request that still stands, answers it, and waits
// for the next. What nobody wants any more is closed here, outside the lock.
void ReadRequests(std::shared_ptr<Shared> shared, size_t reader) {
  // Signals belong to the program's main thread.
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
  std::unique_lock<std::mutex> lock(shared->mutex);
  while (true) {
    shared->changed.wait(lock, [&] { return shared->quit || !shared->queued.empty(); });
    if (shared->quit) {
      break;
    }
    const Job job = std::move(shared->queued.front());
    shared->queued.pop_front();
    if (!shared->Live(job.request)) {
      continue;
    }
    shared->busy[reader] = true;
    --shared->free_readers;
    lock.unlock();
    LoadedFile file = Load(*shared, job);
    lock.lock();
    std::optional<LoadedFile> dropped = Answer(*shared, std::move(file));
    if (dropped.has_value()) {
      lock.unlock();
      dropped.reset();
      lock.lock();
    }
    shared->busy[reader] = false;
    ++shared->free_readers;
    shared->changed.notify_all();
  }
}

}  // namespace

TrackLoader::TrackLoader() : shared_(std::make_shared<Shared>()) {}

TrackLoader::~TrackLoader() {
  std::vector<LoadedFile> dropped;
  std::vector<bool> busy;
  {
    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->quit = true;
    shared_->queued.clear();
    shared_->live.clear();
    dropped.swap(shared_->answers);
    shared_->changed.notify_all();
    // A reader at a request sees the quit within a stretch of its file and drops what it read;
    // one inside a read of storage that does not answer is not waited for beyond this moment.
    shared_->changed.wait_for(lock, kStopPatience, [this] {
      return std::none_of(shared_->busy.begin(), shared_->busy.end(), [](bool b) { return b; });
    });
    busy = shared_->busy;
  }
  for (size_t i = 0; i < readers_.size(); ++i) {
    // Left to end by itself once its read returns; it keeps the shared state alive till then.
    if (busy[i]) {
      readers_[i].detach();
    } else {
      readers_[i].join();
    }
  }
}

void TrackLoader::StartReaderIfNeeded() {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  if (shared_->free_readers >= static_cast<int>(shared_->queued.size()) ||
      readers_.size() >= static_cast<size_t>(kMaxTrackReaders)) {
    return;
  }
  try {
    readers_.emplace_back(ReadRequests, shared_, readers_.size());
  } catch (const std::system_error&) {
    return;
  }
  shared_->busy.push_back(false);
  ++shared_->free_readers;
}

RequestId TrackLoader::Request(const std::string& path, std::int64_t size_limit) {
  RequestId request = 0;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    request = ++shared_->last;
    shared_->live.push_back(request);
    shared_->queued.push_back(Job{request, path, size_limit});
  }
  StartReaderIfNeeded();
  if (readers_.empty()) {
    // No thread to read on: read here rather than never.
    Job job;
    {
      std::lock_guard<std::mutex> lock(shared_->mutex);
      job = std::move(shared_->queued.front());
      shared_->queued.pop_front();
    }
    LoadedFile file = Load(*shared_, job);
    std::lock_guard<std::mutex> lock(shared_->mutex);
    Answer(*shared_, std::move(file));
    return request;
  }
  shared_->changed.notify_all();
  return request;
}

void TrackLoader::Cancel(RequestId request) {
  std::vector<LoadedFile> dropped;
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->Forget(request);
  auto& answers = shared_->answers;
  for (auto it = answers.begin(); it != answers.end();) {
    if (it->request == request) {
      dropped.push_back(std::move(*it));
      it = answers.erase(it);
    } else {
      ++it;
    }
  }
}

std::optional<LoadedFile> TrackLoader::TakeAnswer(RequestId request) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  auto& answers = shared_->answers;
  for (auto it = answers.begin(); it != answers.end(); ++it) {
    if (it->request == request) {
      LoadedFile answer = std::move(*it);
      answers.erase(it);
      shared_->Forget(request);
      return answer;
    }
  }
  return std::nullopt;
}
