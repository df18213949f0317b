#pragma once

// Shared by the fake's own files only: the call log, failure rules and per-part resets.

#include <string>

#include "tests/fakes/fake_audio_platform.h"

namespace fake_audio::internal {

// Logs a call of `op` ("Name" or "Name(arguments)") and returns the status a failure rule
// chose for it, or noErr.
OSStatus EnterCall(Op op, const std::string& arguments = {});

// Notes a wrong use of the platform; tests read them through Misuses().
void RecordMisuse(const std::string& what);

// Release everything the files and decoders, and the queues, hold.
void ResetFiles();
void ResetQueues();

}  // namespace fake_audio::internal
