#pragma once

// The audio services the engine stands on: audio files parsed from memory, a decoder that
// delivers 16-bit signed interleaved PCM, an output queue that calls back on its own thread for
// each buffer it has played, and the small dictionary and string types of the info dictionary.
//
// Every operation returns a status of 0 on success and a non-zero code on failure, and never
// throws. The program links exactly one implementation: FFmpeg with the sound server's clients
// (PipeWire's own protocol where PipeWire answers, else PulseAudio's; SDL2 where there is no
// server, or where SDL_AUDIODRIVER names one of its drivers), or the fake that the tests drive.
//
// Threads and locks:
// - Audio files and decoders: each one is used by one thread at a time, whichever it is. The
//   program opens, reads the properties of and closes a file on one of its loader's reader
//   threads or on its main thread; a decoder then reads on the queue's refill thread (through the
//   refill routine), or on the main thread while it primes a queue's buffers or fills buffers that
//   waited for the next track, never on two at once (the program's own lock sees to it).
// - Queue operations run on the program's main thread, except those the refill routine makes
//   (below) and one start: once a queue that has ended has been heard out, its refill routine
//   may call AudioQueueStart on another queue, which is waiting primed to follow it.
// - What a queue operation waits for. AudioQueueNewOutput tries the server's protocols in turn
//   (PipeWire's own, then PulseAudio's); for each that has no connection (the first queue, or a
//   server that went away) it waits up to two seconds for one, and before that as long again
//   for the lock of that protocol's one connection, which another thread holds while it
//   connects (the refill thread of a queue whose server went away reconnects under it); where
//   none answers, it asks each protocol once more, under that lock, whether its server is away.
//   AudioQueuePause waits up to 0.1 s for the server to take the pause, holding the queue's
//   output lock meanwhile. AudioQueueDispose waits for a refill under way (a decode of one
//   buffer, or the program's own locks around it, which another thread may hold as long) and
//   for a try to reopen a lost output, which waits as AudioQueueNewOutput does: at worst, for
//   each protocol, two seconds for its lock, two for a connection and two more for the lock to
//   ask whether the server is away, some twelve seconds in all. Every other operation waits only
//   for the locks below.
// - Each queue has a refill thread of its own. It is an ordinary thread, not the output's
//   real-time one: it calls the refill routine, with no lock held, once for every buffer that
//   has been heard, in playing order. The routine may take the time to decode a buffer, as
//   long as what is queued lasts; it may call ExtAudioFileRead, AudioQueueEnqueueBuffer,
//   AudioQueueStop(queue, false) and, on another queue, AudioQueueStart. It must not wait for
//   anything else: when the server goes away or drops the stream, this same thread opens a new
//   stream, and keeps trying while the server is not back; the new stream plays on from what
//   was last heard. A queue made while a server that answered before is away starts out so,
//   with nothing heard yet.
// - The output's own threads copy enqueued PCM and tell the queue what has been heard, when a
//   drain has ended, and when the stream is lost: the sound server's main loop (libpulse's, or
//   PipeWire's thread loop), PipeWire's data thread, which the graph wakes in real time once a
//   cycle to take a quantum from the queue, and SDL's audio thread. Besides, the main loops
//   take a stream that has drained and stays idle out of the graph (PipeWire) or cork it
//   (PulseAudio), and PipeWire's thread loop, when its stream is lost, waits for a process call
//   under way on the data thread to return before it tells the queue. None of them decodes or
//   calls the refill routine, so a slow decode cannot starve the output.
// - Locks, always taken in this order, each held for moments but where this says otherwise:
//   the queue's output lock (held for every call into the output, since the refill thread may
//   replace the output, and so across AudioQueuePause's wait for the server), then the
//   output's own lock (the server's main-loop lock, libpulse's or PipeWire's thread loop's, or
//   SDL's device lock), then the queue's lock (its buffers and counts). The output's threads
//   take only the last two, in that order; PipeWire's data thread takes only the queue's lock,
//   so that the graph's cycle never waits for the main loop. The lock of a protocol's one
//   connection is taken outside all of them, and held while a connection is made (up to two
//   seconds).
//
// The queue's clock (AudioQueueGetCurrentTime) counts the frames heard since the queue's first
// start, for the queue's whole life: across pauses, during which it stands still, and across a
// new stream that replaces a lost one. The sound server's clock takes its latency off:
// PulseAudio's is the stream's timing, PipeWire's counts what its graph has taken from the
// stream, from the stream's position report each cycle, less the graph's delay to its device.
// SDL's counts what has been copied to the device, whose own buffer is short. The clock fails
// before the queue's first start and once it has stopped (at once, or after its last buffer
// played out); a paused queue answers, its count standing where the sound stopped. A stream that
// has run dry may have its clock stand short of the last frame written, for good (a sink that
// renders far ahead does so): nothing waits for the clock to reach the end.

#include <cstdint>

using OSStatus = std::int32_t;
using UInt32 = std::uint32_t;
using SInt64 = std::int64_t;
using UInt64 = std::uint64_t;
using Float32 = float;
using Float64 = double;
using Boolean = bool;
using CFIndex = long;

using AudioFileTypeID = UInt32;
using AudioFilePropertyID = UInt32;
using ExtAudioFilePropertyID = UInt32;
using AudioFormatID = UInt32;
using AudioFormatFlags = UInt32;
using AudioQueueParameterID = UInt32;
using AudioQueueParameterValue = Float32;
using CFStringEncoding = UInt32;

// A four-character code as one big-endian 32-bit value: FourCharCode("info").
constexpr UInt32 FourCharCode(const char (&code)[5]) {
  return (UInt32(UInt32(code[0]) & 0xFF) << 24) | (UInt32(UInt32(code[1]) & 0xFF) << 16) |
         (UInt32(UInt32(code[2]) & 0xFF) << 8) | UInt32(UInt32(code[3]) & 0xFF);
}

constexpr OSStatus noErr = 0;

// Failure codes. Callers only test for non-zero; the codes tell a reader of a trace which way
// an operation failed.
constexpr OSStatus kAudio_ParamError = -50;
constexpr OSStatus kAudio_MemFullError = -108;
constexpr OSStatus kAudioFileUnspecifiedError = 0x7768743F;          // 'wht?'
constexpr OSStatus kAudioFileUnsupportedFileTypeError = 0x7479703F;  // 'typ?'
constexpr OSStatus kAudioFileInvalidFileError = 0x6474613F;          // 'dta?'
constexpr OSStatus kAudioFileUnsupportedPropertyError = 0x7074793F;  // 'pty?'
constexpr OSStatus kAudioFileBadPropertySizeError = 0x2173697A;      // '!siz'
constexpr OSStatus kAudioQueueErr_InvalidBuffer = -66687;
constexpr OSStatus kAudioQueueErr_InvalidRunState = -66671;
constexpr OSStatus kAudioQueueErr_CannotStart = -66681;
constexpr OSStatus kAudioQueueErr_InvalidDevice = -66680;

constexpr AudioFileTypeID kAudioFileMP3Type = FourCharCode("MPG3");
constexpr AudioFilePropertyID kAudioFilePropertyInfoDictionary = FourCharCode("info");
constexpr AudioFilePropertyID kAudioFilePropertyAudioDataPacketCount = FourCharCode("pcnt");
constexpr ExtAudioFilePropertyID kExtAudioFileProperty_FileDataFormat = FourCharCode("ffmt");
constexpr ExtAudioFilePropertyID kExtAudioFileProperty_ClientDataFormat = FourCharCode("cfmt");
constexpr AudioFormatID kAudioFormatLinearPCM = FourCharCode("lpcm");
constexpr AudioFormatFlags kAudioFormatFlagIsFloat = 1;
constexpr AudioFormatFlags kAudioFormatFlagIsBigEndian = 2;
constexpr AudioFormatFlags kAudioFormatFlagIsSignedInteger = 4;
constexpr AudioFormatFlags kAudioFormatFlagIsPacked = 8;
constexpr AudioFormatFlags kAudioFormatFlagIsNonInterleaved = 32;
constexpr AudioQueueParameterID kAudioQueueParam_Volume = 1;
constexpr CFStringEncoding kCFStringEncodingUTF8 = 0x08000100;

// Keys of the info dictionary.
inline constexpr const char* kAFInfoDictionary_Title = "title";
inline constexpr const char* kAFInfoDictionary_Artist = "artist";
inline constexpr const char* kAFInfoDictionary_Album = "album";
inline constexpr const char* kAFInfoDictionary_Year = "year";
inline constexpr const char* kAFInfoDictionary_Genre = "genre";

// A stream's sample layout. 40 bytes, fields in this order.
struct AudioStreamBasicDescription {
  Float64 mSampleRate;
  AudioFormatID mFormatID;
  AudioFormatFlags mFormatFlags;
  UInt32 mBytesPerPacket;
  UInt32 mFramesPerPacket;
  UInt32 mBytesPerFrame;
  UInt32 mChannelsPerFrame;
  UInt32 mBitsPerChannel;
  UInt32 mReserved;
};
static_assert(sizeof(AudioStreamBasicDescription) == 40);

struct AudioTimeStamp {
  Float64 mSampleTime;  // Frames played, at the client rate.
  UInt64 mHostTime;
  UInt32 mFlags;
  UInt32 mReserved;
};

struct AudioStreamPacketDescription {
  SInt64 mStartOffset;
  UInt32 mVariableFramesInPacket;
  UInt32 mDataByteSize;
};

struct AudioBuffer {
  UInt32 mNumberChannels;
  UInt32 mDataByteSize;
  void* mData;
};

// Only lists of one buffer (interleaved PCM) are used.
struct AudioBufferList {
  UInt32 mNumberBuffers;
  AudioBuffer mBuffers[1];
};

// A buffer that the output queue owns; freed with the queue.
struct AudioQueueBuffer {
  const UInt32 mAudioDataBytesCapacity;
  void* const mAudioData;
  UInt32 mAudioDataByteSize;  // Bytes to play, set before enqueueing.
  void* mUserData;
};
using AudioQueueBufferRef = AudioQueueBuffer*;

struct OpaqueAudioFileID;
using AudioFileID = OpaqueAudioFileID*;
struct OpaqueExtAudioFile;
using ExtAudioFileRef = OpaqueExtAudioFile*;
struct OpaqueAudioQueue;
using AudioQueueRef = OpaqueAudioQueue*;
struct OpaqueAudioQueueTimeline;
using AudioQueueTimelineRef = OpaqueAudioQueueTimeline*;
struct OpaqueCFRunLoop;
using CFRunLoopRef = OpaqueCFRunLoop*;

struct OpaqueCFType;
using CFTypeRef = const void*;
struct OpaqueCFString;
using CFStringRef = const OpaqueCFString*;
struct OpaqueCFDictionary;
using CFDictionaryRef = const OpaqueCFDictionary*;

// Reads up to `request_count` bytes at `position`; sets `actual_count`.
using AudioFile_ReadProc = OSStatus (*)(void* client_data, SInt64 position, UInt32 request_count,
                                        void* buffer, UInt32* actual_count);
using AudioFile_WriteProc = OSStatus (*)(void* client_data, SInt64 position, UInt32 request_count,
                                         const void* buffer, UInt32* actual_count);
using AudioFile_GetSizeProc = SInt64 (*)(void* client_data);
using AudioFile_SetSizeProc = OSStatus (*)(void* client_data, SInt64 size);

// Called on the queue's refill thread, once for every enqueued buffer that has played.
using AudioQueueOutputCallback = void (*)(void* user_data, AudioQueueRef queue,
                                          AudioQueueBufferRef buffer);

// --- Audio files, parsed from memory -----------------------------------------------------------

// Opens audio data that is read only through `read` and `get_size` (no write or set-size
// callback). The content decides the format; `type_hint` is only a hint. MP3, WAV, FLAC and
// M4A (AAC or ALAC) open; anything else, empty, truncated or garbage data fails.
OSStatus AudioFileOpenWithCallbacks(void* client_data, AudioFile_ReadProc read,
                                    AudioFile_WriteProc write, AudioFile_GetSizeProc get_size,
                                    AudioFile_SetSizeProc set_size, AudioFileTypeID type_hint,
                                    AudioFileID* out_file);

// kAudioFilePropertyInfoDictionary (size 8): a CFDictionaryRef that the caller releases, of
// strings under "title", "artist", "album", "year", "genre" (a key is absent when the file has
// no such tag; "year" holds the year of a full date).
// kAudioFilePropertyAudioDataPacketCount (size 8): a UInt64 packet count such that
// count x mFramesPerPacket / mSampleRate is the track's exact length, encoder delay and padding
// excluded.
OSStatus AudioFileGetProperty(AudioFileID file, AudioFilePropertyID property, UInt32* io_size,
                              void* out_data);

OSStatus AudioFileClose(AudioFileID file);

// --- The decoder over an open audio file -----------------------------------------------------

// A decoder over `file` (reading only); `file` stays open and is closed by its owner after the
// decoder is disposed.
OSStatus ExtAudioFileWrapAudioFileID(AudioFileID file, Boolean for_writing,
                                     ExtAudioFileRef* out_decoder);

// kExtAudioFileProperty_FileDataFormat (size 40): the file's own format; mSampleRate and
// mChannelsPerFrame are the file's, mFramesPerPacket agrees with the packet count.
OSStatus ExtAudioFileGetProperty(ExtAudioFileRef decoder, ExtAudioFilePropertyID property,
                                 UInt32* io_size, void* out_data);

// kExtAudioFileProperty_ClientDataFormat (size 40): the PCM format reads deliver. Only 16-bit
// signed packed interleaved PCM at the file's own rate and channel count is accepted.
OSStatus ExtAudioFileSetProperty(ExtAudioFileRef decoder, ExtAudioFilePropertyID property,
                                 UInt32 size, const void* data);

// Decodes up to `*io_frames` frames into the list's one buffer (bounded by its mDataByteSize);
// sets `*io_frames` to the frames delivered, 0 at the end of the data. Frames decoded beyond
// the request are kept for the next read. Frames whose rate or channel count differs from the
// file format's (recordings of different formats joined into one file) are resampled and mixed
// to the client format. A damaged packet is skipped; only an unrecoverable error fails. May run
// on the refill thread (from the refill routine).
OSStatus ExtAudioFileRead(ExtAudioFileRef decoder, UInt32* io_frames, AudioBufferList* io_data);

OSStatus ExtAudioFileDispose(ExtAudioFileRef decoder);

// --- The output queue ------------------------------------------------------------------------

// A queue in `format` (16-bit signed interleaved PCM) on a new stream of the sound server, or an
// SDL device; it holds its output until started. `callback` runs on the queue's own refill
// thread, with `user_data`, once for every buffer that has been heard. No run loop, flags 0.
OSStatus AudioQueueNewOutput(const AudioStreamBasicDescription* format,
                             AudioQueueOutputCallback callback, void* user_data,
                             CFRunLoopRef run_loop, CFStringRef run_loop_mode, UInt32 flags,
                             AudioQueueRef* out_queue);

// Only kAudioQueueParam_Volume at 1 (full volume) is taken: the listener sets the volume on the
// server, and the queue plays its PCM as it is.
OSStatus AudioQueueSetParameter(AudioQueueRef queue, AudioQueueParameterID parameter,
                                AudioQueueParameterValue value);

// A buffer of `capacity` bytes that the queue owns and frees with itself.
OSStatus AudioQueueAllocateBuffer(AudioQueueRef queue, UInt32 capacity,
                                  AudioQueueBufferRef* out_buffer);

// Plays the buffer's mAudioDataByteSize bytes after everything enqueued before it, whole; the
// output takes them at once if it has room. May run on the refill thread (from the refill
// routine).
OSStatus AudioQueueEnqueueBuffer(AudioQueueRef queue, AudioQueueBufferRef buffer,
                                 UInt32 packet_count, const AudioStreamPacketDescription* packets);

// Starts, or resumes after a pause; `start_time` may be null or the stamp saved at the pause.
OSStatus AudioQueueStart(AudioQueueRef queue, const AudioTimeStamp* start_time);

// Holds the output where it is (the server's own pause: a corked stream, or one taken out of
// PipeWire's graph), with what it has not played kept for the resume; time stands still.
// Nothing more is heard, so no buffer goes back while paused, though one heard just before may
// still be on its way to the refill routine.
// Waits up to 0.1 s for the server to take the pause, so that it holds even if the process
// stops right after (Ctrl-Z), and so that the clock says where the sound stopped.
OSStatus AudioQueuePause(AudioQueueRef queue);

// Immediate: stops at once and drops what is queued, the output's own buffer included; the
// queue is then done, and AudioQueueStart fails on it. Not immediate: queued buffers play out
// first, to the last frame (the server drains the stream, or PipeWire's graph takes the last
// frames, which it plays whatever becomes of the stream), and only then go back and the queue
// stops. The not-immediate form may be called from inside
// the refill routine.
OSStatus AudioQueueStop(AudioQueueRef queue, Boolean immediate);

// mSampleTime = frames heard since the first start, at the client rate: the output's latency is
// taken off, and the count stands still while paused. Fails before the first start and once the
// queue has stopped; answers while paused.
OSStatus AudioQueueGetCurrentTime(AudioQueueRef queue, AudioQueueTimelineRef timeline,
                                  AudioTimeStamp* out_time, Boolean* out_discontinuity);

// Frees the queue and its buffers, and silences its output at once. Immediate: when it returns,
// no refill call is running and none will start; a refill under way is waited for, and so is a
// try to reopen a lost output (see above: some seconds at worst).
OSStatus AudioQueueDispose(AudioQueueRef queue, Boolean immediate);

// --- The info dictionary ---------------------------------------------------------------------

// The value under `key`, not owned by the caller, or null.
const void* CFDictionaryGetValue(CFDictionaryRef dictionary, const char* key);

// Copies `string` as NUL-terminated UTF-8 into `buffer`; false (and nothing usable in `buffer`)
// when the UTF-8 form with its NUL needs more than `buffer_size` bytes.
Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex buffer_size,
                           CFStringEncoding encoding);

// Releases a dictionary handed out by AudioFileGetProperty, with the strings it holds.
void CFRelease(CFTypeRef object);
