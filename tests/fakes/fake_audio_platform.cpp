#include "tests/fakes/fake_audio_platform.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "tests/fakes/fake_registry.h"

namespace fake_audio {
namespace {

struct LoggedCall {
  Op op;
  std::string entry;
};

// A rule that fails calls of one operation: the nth only, or every one when `nth` is 0.
struct FailureRule {
  int nth;
  OSStatus status;
};

struct CallRecord {
  std::mutex mutex;
  std::vector<LoggedCall> calls;
  std::map<Op, int> counts;
  std::multimap<Op, FailureRule> rules;
  std::multimap<Op, std::function<void()>> pending_actions;
  std::vector<std::string> misuses;
};

// Never destroyed: a loader's reader left inside a stuck read may call the platform after the
// test program's static objects have gone.
CallRecord& Record() {
  static CallRecord* const record = new CallRecord;
  return *record;
}

// Runs the action waiting for `op`, if any, with no lock held: it may call the platform.
void RunPendingAction(Op op) {
  CallRecord& record = Record();
  std::function<void()> action;
  {
    std::lock_guard lock(record.mutex);
    auto found = record.pending_actions.find(op);
    if (found == record.pending_actions.end()) {
      return;
    }
    action = std::move(found->second);
    record.pending_actions.erase(found);
  }
  action();
}

}  // namespace

namespace internal {

OSStatus EnterCall(Op op, const std::string& arguments) {
  RunPendingAction(op);
  CallRecord& record = Record();
  std::lock_guard lock(record.mutex);
  std::string entry = OpName(op);
  if (!arguments.empty()) {
    entry += "(" + arguments + ")";
  }
  record.calls.push_back({op, entry});
  int count = ++record.counts[op];
  auto [first, last] = record.rules.equal_range(op);
  for (auto it = first; it != last; ++it) {
    if (it->second.nth == 0 || it->second.nth == count) {
      return it->second.status;
    }
  }
  return noErr;
}

void RecordMisuse(const std::string& what) {
  CallRecord& record = Record();
  std::lock_guard lock(record.mutex);
  record.misuses.push_back(what);
}

}  // namespace internal

const char* OpName(Op op) {
  switch (op) {
    case Op::kAudioFileOpenWithCallbacks:
      return "AudioFileOpenWithCallbacks";
    case Op::kAudioFileGetProperty:
      return "AudioFileGetProperty";
    case Op::kAudioFileClose:
      return "AudioFileClose";
    case Op::kExtAudioFileWrapAudioFileID:
      return "ExtAudioFileWrapAudioFileID";
    case Op::kExtAudioFileGetProperty:
      return "ExtAudioFileGetProperty";
    case Op::kExtAudioFileSetProperty:
      return "ExtAudioFileSetProperty";
    case Op::kExtAudioFileRead:
      return "ExtAudioFileRead";
    case Op::kExtAudioFileDispose:
      return "ExtAudioFileDispose";
    case Op::kAudioQueueNewOutput:
      return "AudioQueueNewOutput";
    case Op::kAudioQueueSetParameter:
      return "AudioQueueSetParameter";
    case Op::kAudioQueueAllocateBuffer:
      return "AudioQueueAllocateBuffer";
    case Op::kAudioQueueEnqueueBuffer:
      return "AudioQueueEnqueueBuffer";
    case Op::kAudioQueueStart:
      return "AudioQueueStart";
    case Op::kAudioQueuePause:
      return "AudioQueuePause";
    case Op::kAudioQueueStop:
      return "AudioQueueStop";
    case Op::kAudioQueueGetCurrentTime:
      return "AudioQueueGetCurrentTime";
    case Op::kAudioQueueDispose:
      return "AudioQueueDispose";
  }
  return "?";
}

void Reset() {
  // Queues first: their threads may still be logging calls.
  internal::ResetQueues();
  internal::ResetFiles();
  CallRecord& record = Record();
  std::lock_guard lock(record.mutex);
  record.calls.clear();
  record.counts.clear();
  record.rules.clear();
  record.misuses.clear();
  record.pending_actions.clear();
}

void FailNthCall(Op op, int nth, OSStatus status) {
  CallRecord& record = Record();
  std::lock_guard lock(record.mutex);
  record.rules.insert({op, FailureRule{nth, status}});
}

void FailEveryCall(Op op, OSStatus status) { FailNthCall(op, 0, status); }

void BeforeNextCall(Op op, std::function<void()> action) {
  CallRecord& record = Record();
  std::lock_guard lock(record.mutex);
  record.pending_actions.insert({op, std::move(action)});
}

std::vector<std::string> CallLog() {
  CallRecord& record = Record();
  std::lock_guard lock(record.mutex);
  std::vector<std::string> entries;
  for (const LoggedCall& call : record.calls) {
    entries.push_back(call.entry);
  }
  return entries;
}

std::vector<std::string> CallLog(Op op) {
  CallRecord& record = Record();
  std::lock_guard lock(record.mutex);
  std::vector<std::string> entries;
  for (const LoggedCall& call : record.calls) {
    if (call.op == op) {
      entries.push_back(call.entry);
    }
  }
  return entries;
}

int CallCount(Op op) {
  CallRecord& record = Record();
  std::lock_guard lock(record.mutex);
  auto found = record.counts.find(op);
  return found == record.counts.end() ? 0 : found->second;
}

int FindCall(const std::string& entry, int from) {
  std::vector<std::string> entries = CallLog();
  auto start = entries.begin() + std::clamp<int>(from + 1, 0, static_cast<int>(entries.size()));
  auto found = std::find(start, entries.end(), entry);
  return found == entries.end() ? -1 : static_cast<int>(found - entries.begin());
}

std::vector<std::string> Misuses() {
  CallRecord& record = Record();
  std::lock_guard lock(record.mutex);
  return record.misuses;
}

}  // namespace fake_audio
