#include "tests/support/media.h"

#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>

#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace test_support {
namespace {

// The media made in this run, by recipe, in one folder removed at exit.
struct MediaCache {
  std::mutex mutex;
  std::unique_ptr<TempDir> folder;
  std::map<std::string, std::string> files;
  int next_number = 0;
};

MediaCache& Cache() {
  static MediaCache cache;
  return cache;
}

// A name for the recipe that is also a cache key.
std::string RecipeKey(const MediaRecipe& recipe) {
  std::ostringstream key;
  key << FormatName(recipe.format) << '|' << recipe.sample_rate << '|' << recipe.channels << '|'
      << recipe.seconds << '|' << recipe.tone_hz << '|' << recipe.id3v1_only << '|'
      << recipe.tags.title << '|' << recipe.tags.artist << '|' << recipe.tags.album << '|'
      << recipe.tags.date << '|' << recipe.tags.genre;
  return key.str();
}

// One tone per channel, 0.4 around a DC offset of 0.5: never zero.
std::string SourceFilter(const MediaRecipe& recipe) {
  std::ostringstream filter;
  filter << "aevalsrc=exprs=";
  for (int channel = 0; channel < recipe.channels; ++channel) {
    filter << (channel > 0 ? "|" : "") << "0.4*sin(2*PI*" << recipe.tone_hz + 110 * channel
           << "*t)+0.5";
  }
  filter << ":s=" << recipe.sample_rate << ":d=" << recipe.seconds;
  return filter.str();
}

// An ffmpeg command line, up to its filters and codec, that reads the recipe's signal.
std::vector<std::string> FfmpegOnTheSource(const MediaRecipe& recipe) {
  return {"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", SourceFilter(recipe)};
}

std::vector<std::string> CodecArguments(MediaFormat format) {
  switch (format) {
    case MediaFormat::kMp3Cbr:
      return {"-c:a", "libmp3lame", "-b:a", "128k"};
    case MediaFormat::kMp3Vbr:
      return {"-c:a", "libmp3lame", "-q:a", "4"};
    case MediaFormat::kMp3VbrWithoutXing:
      return {"-c:a", "libmp3lame", "-q:a", "4", "-write_xing", "0"};
    case MediaFormat::kWav:
      return {"-c:a", "pcm_s16le"};
    case MediaFormat::kFlac:
      return {"-c:a", "flac"};
    case MediaFormat::kM4aAac:
      return {"-c:a", "aac", "-b:a", "128k"};
    case MediaFormat::kM4aAlac:
      return {"-c:a", "alac"};
    case MediaFormat::kAiff:
      return {"-c:a", "pcm_s16be"};
  }
  return {};
}

void AddTagArguments(const MediaRecipe& recipe, std::vector<std::string>& arguments) {
  // Without an ID3v2 tag, ffmpeg's MP3 muxer fills the ID3v1 trailer only from ID3v2 frame names.
  const bool v1 = recipe.id3v1_only;
  const std::pair<const char*, const std::string*> tags[] = {
      {v1 ? "TIT2" : "title", &recipe.tags.title},
      {v1 ? "TPE1" : "artist", &recipe.tags.artist},
      {v1 ? "TALB" : "album", &recipe.tags.album},
      {v1 ? "TYER" : "date", &recipe.tags.date},
      {v1 ? "TCON" : "genre", &recipe.tags.genre}};
  for (const auto& [key, value] : tags) {
    if (!value->empty()) {
      arguments.insert(arguments.end(), {"-metadata", std::string(key) + "=" + *value});
    }
  }
  if (recipe.id3v1_only) {
    arguments.insert(arguments.end(), {"-id3v2_version", "0", "-write_id3v1", "1"});
  }
}

// A new file name in the cache's folder; the cache's lock is held.
std::string NewCachePath(MediaCache& cache, const std::string& stem, MediaFormat format) {
  if (cache.folder == nullptr) {
    cache.folder = std::make_unique<TempDir>();
  }
  return *cache.folder /
         (stem + "_" + std::to_string(cache.next_number++) + FormatExtension(format));
}

// The folder that the test command shares between the test programs of a run for the media they
// make with ffmpeg; empty when a test program runs by hand.
std::string SharedMediaFolder() {
  const char* folder = std::getenv("BREVALO_MEDIA_CACHE");
  return folder != nullptr ? folder : "";
}

// Runs ffmpeg's `command`, whose output comes last, and returns that output. With a shared
// folder, the output is the file an earlier run of the same command (`key`) left there, or one
// made now and renamed into place, so that another process never finds half of it. Empty when
// ffmpeg fails; `errors` then says why.
std::string RunFfmpeg(std::vector<std::string> command, const std::string& key,
                      const std::string& output, std::string& errors) {
  const std::string folder = SharedMediaFolder();
  if (folder.empty()) {
    command.push_back(output);
    return RunProgram(command, &errors) == 0 ? output : "";
  }
  char name[32];
  std::snprintf(name, sizeof name, "%016zx", std::hash<std::string>{}(key));
  const std::string extension = std::filesystem::path(output).extension().string();
  const std::string shared = folder + "/" + name + extension;
  if (std::filesystem::exists(shared)) {
    return shared;
  }
  static std::atomic<int> next_part{0};
  const std::string part =
      shared + "." + std::to_string(getpid()) + "." + std::to_string(next_part++) + extension;
  command.push_back(part);
  if (RunProgram(command, &errors) != 0) {
    return {};
  }
  std::error_code error;
  std::filesystem::rename(part, shared, error);
  if (error) {
    errors = "cannot rename " + part + ": " + error.message();
    return {};
  }
  return shared;
}

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');) {
    if (access((folder + "/" + program).c_str(), X_OK) == 0) {
      return true;
    }
  }
  return false;
}

// A key for a command whose output depends on its arguments alone.
std::string CommandKey(const std::vector<std::string>& command) {
  std::string key;
  for (const std::string& argument : command) {
    key += argument;
    key += '\0';
  }
  return key;
}

}  // namespace

MediaRecipe Recipe(MediaFormat format, double seconds, int channels, int sample_rate) {
  MediaRecipe recipe;
  recipe.format = format;
  recipe.seconds = seconds;
  recipe.channels = channels;
  recipe.sample_rate = sample_rate;
  return recipe;
}

std::string FormatName(MediaFormat format) {
  switch (format) {
    case MediaFormat::kMp3Cbr:
      return "mp3_cbr";
    case MediaFormat::kMp3Vbr:
      return "mp3_vbr";
    case MediaFormat::kMp3VbrWithoutXing:
      return "mp3_vbr_without_xing";
    case MediaFormat::kWav:
      return "wav";
    case MediaFormat::kFlac:
      return "flac";
    case MediaFormat::kM4aAac:
      return "m4a_aac";
    case MediaFormat::kM4aAlac:
      return "m4a_alac";
    case MediaFormat::kAiff:
      return "aiff";
  }
  return "unknown";
}

std::string FormatExtension(MediaFormat format) {
  switch (format) {
    case MediaFormat::kMp3Cbr:
    case MediaFormat::kMp3Vbr:
    case MediaFormat::kMp3VbrWithoutXing:
      return ".mp3";
    case MediaFormat::kWav:
      return ".wav";
    case MediaFormat::kFlac:
      return ".flac";
    case MediaFormat::kM4aAac:
    case MediaFormat::kM4aAlac:
      return ".m4a";
    case MediaFormat::kAiff:
      return ".aiff";
  }
  return "";
}

bool IsLossy(MediaFormat format) {
  return format == MediaFormat::kMp3Cbr || format == MediaFormat::kMp3Vbr ||
         format == MediaFormat::kMp3VbrWithoutXing || format == MediaFormat::kM4aAac;
}

int64_t SourceFrames(const MediaRecipe& recipe) {
  return std::llround(recipe.seconds * recipe.sample_rate);
}

int RunProgram(const std::vector<std::string>& arguments, std::string* error_output,
               std::string* output) {
  TempDir folder;
  const std::string error_path = folder / "stderr";
  const std::string output_path = output != nullptr ? folder / "stdout" : "/dev/null";
  const pid_t pid = SpawnProgram(arguments, {}, output_path, error_path);
  if (pid < 0) {
    return -1;
  }
  const int status = WaitForProgram(pid);
  if (error_output != nullptr) {
    *error_output = ReadFile(error_path);
  }
  if (output != nullptr) {
    *output = ReadFile(output_path);
  }
  return status;
}

bool HaveFfmpeg() {
  // Looked for rather than run: "ffmpeg -version" maps every codec library, a fifth of a second
  // of CPU in each test program.
  static const bool available = OnPath("ffmpeg") && OnPath("ffprobe");
  return available;
}

std::string MakeMedia(const MediaRecipe& recipe) {
  MediaCache& cache = Cache();
  std::lock_guard<std::mutex> lock(cache.mutex);
  const std::string key = RecipeKey(recipe);
  if (auto found = cache.files.find(key); found != cache.files.end()) {
    return found->second;
  }
  std::vector<std::string> arguments = FfmpegOnTheSource(recipe);
  for (const std::string& argument : CodecArguments(recipe.format)) {
    arguments.push_back(argument);
  }
  AddTagArguments(recipe, arguments);
  std::string errors;
  const std::string path =
      RunFfmpeg(arguments, CommandKey(arguments),
                NewCachePath(cache, FormatName(recipe.format), recipe.format), errors);
  if (path.empty()) {
    ADD_FAILURE() << "ffmpeg could not make " << key << ": " << errors;
    return {};
  }
  cache.files.emplace(key, path);
  return path;
}

std::string JoinMedia(const std::vector<MediaRecipe>& parts) {
  std::string key = "joined";
  std::string bytes;
  for (const MediaRecipe& part : parts) {
    const std::string path = MakeMedia(part);
    if (path.empty()) {
      return {};
    }
    key += "+" + RecipeKey(part);
    bytes += ReadFile(path);
  }
  MediaCache& cache = Cache();
  std::lock_guard<std::mutex> lock(cache.mutex);
  if (auto found = cache.files.find(key); found != cache.files.end()) {
    return found->second;
  }
  const std::string path = NewCachePath(cache, "joined", parts.at(0).format);
  WriteFile(path, bytes);
  cache.files.emplace(key, path);
  return path;
}

std::vector<std::string> CutMedia(MediaFormat format, const std::vector<int64_t>& frame_counts,
                                  const std::string& folder, int sample_rate) {
  MediaRecipe whole = Recipe(format, 0, 2, sample_rate);
  int64_t total = 0;
  for (int64_t frames : frame_counts) {
    total += frames;
  }
  whole.seconds = static_cast<double>(total + 1) / whole.sample_rate;
  std::vector<std::string> paths;
  int64_t start = 0;
  for (int64_t frames : frame_counts) {
    char name[32];
    std::snprintf(name, sizeof name, "%02zu part", paths.size() + 1);
    const std::string path = folder + "/" + name + FormatExtension(format);
    std::vector<std::string> arguments = FfmpegOnTheSource(whole);
    arguments.insert(arguments.end(), {"-af", "atrim=start_sample=" + std::to_string(start) +
                                                  ":end_sample=" + std::to_string(start + frames) +
                                                  ",asetpts=PTS-STARTPTS"});
    for (const std::string& argument : CodecArguments(format)) {
      arguments.push_back(argument);
    }
    std::string errors;
    const std::string made = RunFfmpeg(arguments, CommandKey(arguments), path, errors);
    std::error_code error;
    if (!made.empty() && made != path) {
      std::filesystem::copy_file(made, path, std::filesystem::copy_options::overwrite_existing,
                                 error);
    }
    if (made.empty() || error) {
      ADD_FAILURE() << "ffmpeg could not cut " << path << ": " << errors << error.message();
      return {};
    }
    paths.push_back(path);
    start += frames;
  }
  return paths;
}

std::vector<int16_t> ReferencePcm(const std::string& path, int channels, int sample_rate) {
  TempDir folder;
  const std::string pcm_path = folder / "reference.pcm";
  std::vector<std::string> arguments = {"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", path};
  if (channels > 0) {
    arguments.insert(arguments.end(), {"-ac", std::to_string(channels)});
  }
  if (sample_rate > 0) {
    arguments.insert(arguments.end(), {"-ar", std::to_string(sample_rate)});
  }
  arguments.insert(arguments.end(), {"-f", "s16le"});
  // The file's bytes stand for its name: a test may write other bytes under a name it used. Read
  // only where a key is wanted.
  std::string key;
  if (!SharedMediaFolder().empty()) {
    key = CommandKey(arguments);
    key.replace(key.find(path), path.size(), ReadFile(path));
  }
  std::string errors;
  const std::string decoded = RunFfmpeg(arguments, key, pcm_path, errors);
  if (decoded.empty()) {
    ADD_FAILURE() << "ffmpeg could not decode " << path << ": " << errors;
    return {};
  }
  const std::string bytes = ReadFile(decoded);
  std::vector<int16_t> samples(bytes.size() / sizeof(int16_t));
  std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(int16_t));
  return samples;
}

std::vector<int16_t> TrimmedReferencePcm(const std::string& path) {
  std::vector<int16_t> samples = ReferencePcm(path);
  if (path.size() < 4 || path.compare(path.size() - 4, 4, ".m4a") != 0) {
    return samples;
  }
  std::string fields;
  if (RunProgram({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                  "stream=duration_ts,channels", "-of", "default=nw=1:nk=1", path},
                 nullptr, &fields) != 0) {
    ADD_FAILURE() << "ffprobe could not read " << path;
    return {};
  }
  std::istringstream values(fields);
  size_t channels = 0;
  size_t frames = 0;
  values >> channels >> frames;
  samples.resize(std::min(samples.size(), channels * frames));
  return samples;
}

}  // namespace test_support
