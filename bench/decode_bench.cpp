// Decoding speed of the real platform against the ffmpeg tool on the same files, and the time
// LoadTrack takes for a large MP3. Makes its media with the ffmpeg tool in a temporary folder.
//
// Run: build/bench/decode_bench [repeats]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "audio/platform/audio_platform.h"
#include "audio/track.h"
#include "bench/bench_process.h"

namespace {

struct Timing {
  double wall_ms = 0;
  double cpu_ms = 0;
};

double Milliseconds(const timespec& time) { return time.tv_sec * 1e3 + time.tv_nsec / 1e6; }

double ProcessCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return Milliseconds(now);
}

double WallMs() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Runs a program with its output discarded; its wall and CPU time, or nothing on failure.
bool RunTimed(std::vector<std::string> arguments, Timing* timing) {
  const ProcessCost cost = RunProgram(std::move(arguments));
  if (timing != nullptr) {
    timing->wall_ms = cost.wall_seconds * 1e3;
    timing->cpu_ms = cost.cpu_seconds * 1e3;
  }
  return cost.ok;
}

struct MemorySource {
  std::string bytes;
};

OSStatus ReadMemory(void* source, SInt64 position, UInt32 count, void* out, UInt32* actual) {
  const std::string& bytes = static_cast<MemorySource*>(source)->bytes;
  *actual = 0;
  if (position >= 0 && position < static_cast<SInt64>(bytes.size())) {
    *actual = static_cast<UInt32>(std::min<size_t>(count, bytes.size() - position));
    std::copy_n(bytes.data() + position, *actual, static_cast<char*>(out));
  }
  return noErr;
}

SInt64 MemorySize(void* source) {
  return static_cast<SInt64>(static_cast<MemorySource*>(source)->bytes.size());
}

// Opens the file from memory and decodes all of it as the Player does, 32768 frames a read.
bool DecodeWithPlatform(MemorySource& source, Timing* timing, UInt64* frames) {
  const double wall = WallMs();
  const double cpu = ProcessCpuMs();
  AudioFileID file = nullptr;
  ExtAudioFileRef decoder = nullptr;
  if (AudioFileOpenWithCallbacks(&source, ReadMemory, nullptr, MemorySize, nullptr,
                                 kAudioFileMP3Type, &file) != noErr ||
      ExtAudioFileWrapAudioFileID(file, false, &decoder) != noErr) {
    return false;
  }
  AudioStreamBasicDescription format{};
  UInt32 size = sizeof format;
  ExtAudioFileGetProperty(decoder, kExtAudioFileProperty_FileDataFormat, &size, &format);
  AudioStreamBasicDescription client{format.mSampleRate,
                                     kAudioFormatLinearPCM,
                                     kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked,
                                     2 * format.mChannelsPerFrame,
                                     1,
                                     2 * format.mChannelsPerFrame,
                                     format.mChannelsPerFrame,
                                     16,
                                     0};
  ExtAudioFileSetProperty(decoder, kExtAudioFileProperty_ClientDataFormat, sizeof client, &client);
  constexpr UInt32 kFrames = 32768;
  std::vector<int16_t> buffer(kFrames * format.mChannelsPerFrame);
  *frames = 0;
  for (;;) {
    AudioBufferList list{
        1, {{format.mChannelsPerFrame, client.mBytesPerFrame * kFrames, buffer.data()}}};
    UInt32 count = kFrames;
    if (ExtAudioFileRead(decoder, &count, &list) != noErr || count == 0) {
      break;
    }
    *frames += count;
  }
  ExtAudioFileDispose(decoder);
  AudioFileClose(file);
  timing->wall_ms = WallMs() - wall;
  timing->cpu_ms = ProcessCpuMs() - cpu;
  return true;
}

// The fastest of `repeats` runs, by CPU time and by wall time each.
Timing Best(const std::vector<Timing>& timings) {
  Timing best{1e18, 1e18};
  for (const Timing& timing : timings) {
    best.wall_ms = std::min(best.wall_ms, timing.wall_ms);
    best.cpu_ms = std::min(best.cpu_ms, timing.cpu_ms);
  }
  return best;
}

void CompareDecoding(const std::string& name, const std::string& path, int repeats) {
  MemorySource source;
  std::ifstream in(path, std::ios::binary);
  source.bytes.assign(std::istreambuf_iterator<char>(in), {});
  std::vector<Timing> ours(repeats);
  std::vector<Timing> theirs(repeats);
  UInt64 frames = 0;
  for (int i = 0; i < repeats; ++i) {
    if (!DecodeWithPlatform(source, &ours[i], &frames) ||
        !RunTimed({"ffmpeg", "-v", "quiet", "-i", path, "-f", "s16le", "-y", "/dev/null"},
                  &theirs[i])) {
      std::printf("%-5s failed\n", name.c_str());
      return;
    }
  }
  const Timing our_best = Best(ours);
  const Timing their_best = Best(theirs);
  std::printf(
      "%-5s %8.1f KB %9llu frames | ours %7.1f ms cpu %7.1f ms wall | ffmpeg %7.1f ms cpu "
      "%7.1f ms wall | ours/ffmpeg cpu %.2f wall %.2f\n",
      name.c_str(), source.bytes.size() / 1024.0, static_cast<unsigned long long>(frames),
      our_best.cpu_ms, our_best.wall_ms, their_best.cpu_ms, their_best.wall_ms,
      our_best.cpu_ms / their_best.cpu_ms, our_best.wall_ms / their_best.wall_ms);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The whole of LoadTrack (read, open, tags, length), and the open from memory alone.
void TimeLoadTrack(const std::string& path, int repeats) {
  std::vector<double> load_wall;
  std::vector<double> load_cpu;
  std::vector<double> open_cpu;
  AudioTrack track;
  MemorySource source;
  std::ifstream in(path, std::ios::binary);
  source.bytes.assign(std::istreambuf_iterator<char>(in), {});
  for (int i = 0; i <= repeats; ++i) {  // The first run warms the page cache.
    const double wall = WallMs();
    const double cpu = ProcessCpuMs();
    const int result = LoadTrack(&track, path.c_str());
    load_wall.push_back(WallMs() - wall);
    load_cpu.push_back(ProcessCpuMs() - cpu);
    CloseTrack(&track);
    const double open_start = ProcessCpuMs();
    AudioFileID file = nullptr;
    AudioFileOpenWithCallbacks(&source, ReadMemory, nullptr, MemorySize, nullptr, kAudioFileMP3Type,
                               &file);
    open_cpu.push_back(ProcessCpuMs() - open_start);
    AudioFileClose(file);
    if (result != 0) {
      std::printf("LoadTrack failed on %s\n", path.c_str());
      return;
    }
  }
  load_wall.erase(load_wall.begin());
  load_cpu.erase(load_cpu.begin());
  open_cpu.erase(open_cpu.begin());
  std::printf(
      "LoadTrack %.1f MB MP3 (%.1f s), median of %d: %.2f ms wall, %.2f ms cpu, of which "
      "opening from memory %.2f ms cpu (target < 15 ms)\n",
      std::filesystem::file_size(path) / 1e6, track.duration, repeats, Median(load_wall),
      Median(load_cpu), Median(open_cpu));
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  char pattern[] = "/tmp/brevalo-decode-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::filesystem::path folder = pattern;
  const std::string mp3 = folder / "60s.mp3";
  const std::string flac = folder / "60s.flac";
  const std::string m4a = folder / "60s.m4a";
  const std::string big = folder / "10MB.mp3";
  std::printf("Making media with ffmpeg...\n");
  std::fflush(stdout);
  if (!MakeBenchMedia(mp3, 60, {"-c:a", "libmp3lame", "-q:a", "2"}) ||
      !MakeBenchMedia(flac, 60, {"-c:a", "flac"}) ||
      !MakeBenchMedia(m4a, 60, {"-c:a", "aac", "-b:a", "192k"}) ||
      !MakeBenchMedia(big, 262, {"-c:a", "libmp3lame", "-b:a", "320k"})) {
    std::printf("the ffmpeg tool could not make the media\n");
    std::filesystem::remove_all(folder);
    return 1;
  }
  std::printf("Decoding 60 s stereo 44.1 kHz to 16-bit PCM, best of %d:\n", repeats);
  CompareDecoding("mp3", mp3, repeats);
  CompareDecoding("flac", flac, repeats);
  CompareDecoding("m4a", m4a, repeats);
  TimeLoadTrack(big, std::max(repeats, 10));
  std::filesystem::remove_all(folder);
  return 0;
}
