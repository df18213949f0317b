#pragma once

// A fake of the whole audio platform for tests. It records every operation called (in order,
// with the arguments that matter), fails any chosen call on demand, decodes fake audio files
// (see fake_audio_file.h) and plays through queues the test drives (see fake_audio_queue.h).
//
// One process-wide instance: call fake_audio::Reset() at the start of each test. Everything here
// may be called from any thread.

#include <functional>
#include <string>
#include <vector>

#include "audio/platform/audio_platform.h"
#include "tests/fakes/fake_audio_file.h"
#include "tests/fakes/fake_audio_queue.h"

namespace fake_audio {

// The platform operations that can be logged and failed.
enum class Op {
  kAudioFileOpenWithCallbacks,
  kAudioFileGetProperty,
  kAudioFileClose,
  kExtAudioFileWrapAudioFileID,
  kExtAudioFileGetProperty,
  kExtAudioFileSetProperty,
  kExtAudioFileRead,
  kExtAudioFileDispose,
  kAudioQueueNewOutput,
  kAudioQueueSetParameter,
  kAudioQueueAllocateBuffer,
  kAudioQueueEnqueueBuffer,
  kAudioQueueStart,
  kAudioQueuePause,
  kAudioQueueStop,
  kAudioQueueGetCurrentTime,
  kAudioQueueDispose,
};

// The operation's name as in audio_platform.h, e.g. "AudioQueueStop".
const char* OpName(Op op);

// Forgets every call, failure rule, file, decoder and queue (joining queue threads), and turns
// threaded playback off.
void Reset();

// Makes the nth call of `op` (1-based, counted since Reset) fail with `status`.
void FailNthCall(Op op, int nth, OSStatus status);
// Makes every call of `op` from now on fail with `status`.
void FailEveryCall(Op op, OSStatus status);

// Runs `action` once, on the calling thread, when `op` is next called and before that call
// does anything: the way to step in at an exact point of the engine's sequence.
void BeforeNextCall(Op op, std::function<void()> action);

// Every call since Reset, in order, written "Name" or "Name(arguments)", e.g.
// "AudioQueueStop(immediate)" or "AudioFileGetProperty(info)".
std::vector<std::string> CallLog();
// The calls of one operation only.
std::vector<std::string> CallLog(Op op);
int CallCount(Op op);
// Index of the first logged call equal to `entry` after index `from`; -1 when none.
int FindCall(const std::string& entry, int from = -1);

// Wrong uses of the platform seen since Reset (a handle used after it was released, a file
// closed under its decoder, ...). A correct engine leaves this empty.
std::vector<std::string> Misuses();

// Handles made and not yet released.
int OpenFileCount();
// The most files open at once since Reset: files the engine holds whole.
int PeakOpenFileCount();
int OpenDecoderCount();
int LiveQueueCount();

}  // namespace fake_audio
