#include "audio/track.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/audio/fake_engine_test.h"

namespace {

using fake_audio::FakeFileContents;
using fake_audio::Op;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class TrackTest : public engine_test::FakeEngineTest {
 protected:
  void TearDown() override {
    CloseTrack(&track_);
    FakeEngineTest::TearDown();
  }

  // Loads `path` into the test's track; the load's result and what it wrote to stderr.
  int Load(const std::string& path, std::string* error_output = nullptr) {
    int result = 0;
    std::string output =
        engine_test::CaptureStderr([&] { result = LoadTrack(&track_, path.c_str()); });
    if (error_output != nullptr) {
      *error_output = output;
    }
    return result;
  }

  void ExpectEmptyHandles() {
    EXPECT_EQ(track_.data, nullptr);
    EXPECT_EQ(track_.decoder, nullptr);
    EXPECT_EQ(track_.audio_file, nullptr);
  }

  static FakeFileContents TaggedContents() {
    FakeFileContents contents;
    contents.tags = {{"title", "Song"},
                     {"artist", "Band"},
                     {"album", "Record"},
                     {"year", "1999"},
                     {"genre", "Jazz"}};
    contents.packet_count = 441;
    contents.frames_per_packet = 1152;
    contents.sample_rate = 44100;
    return contents;
  }

  AudioTrack track_;
};

TEST_F(TrackTest, LoadsTagsDurationAndSixteenBitClientFormat) {
  std::string path = WriteTrack("song.mp3", TaggedContents());
  std::string errors;
  ASSERT_EQ(Load(path, &errors), 0);

  EXPECT_THAT(errors, IsEmpty());
  EXPECT_NE(track_.data, nullptr);
  EXPECT_NE(track_.decoder, nullptr);
  EXPECT_NE(track_.audio_file, nullptr);
  EXPECT_EQ(track_.size, static_cast<SInt64>(std::filesystem::file_size(path)));
  EXPECT_EQ(track_.metadata.title, "Song");
  EXPECT_EQ(track_.metadata.artist, "Band");
  EXPECT_EQ(track_.metadata.album, "Record");
  EXPECT_EQ(track_.metadata.year, "1999");
  EXPECT_EQ(track_.metadata.genre, "Jazz");
  EXPECT_DOUBLE_EQ(track_.duration, 441.0 * 1152.0 / 44100.0);

  const AudioStreamBasicDescription& format = track_.client_format;
  EXPECT_EQ(format.mSampleRate, 44100);
  EXPECT_EQ(format.mFormatID, kAudioFormatLinearPCM);
  EXPECT_EQ(format.mFormatFlags, 12U);
  EXPECT_EQ(format.mBytesPerPacket, 4U);
  EXPECT_EQ(format.mFramesPerPacket, 1U);
  EXPECT_EQ(format.mBytesPerFrame, 4U);
  EXPECT_EQ(format.mChannelsPerFrame, 2U);
  EXPECT_EQ(format.mBitsPerChannel, 16U);
  EXPECT_EQ(format.mReserved, 0U);
  EXPECT_THAT(fake_audio::CallLog(Op::kExtAudioFileSetProperty),
              ElementsAre("ExtAudioFileSetProperty(cfmt)"));
}

TEST_F(TrackTest, MonoFileAtItsOwnRateGetsTwoBytesPerFrame) {
  FakeFileContents contents = engine_test::ContentsWithFrames(1000, 1);
  contents.sample_rate = 22050;
  ASSERT_EQ(Load(WriteTrack("mono.wav", contents)), 0);
  EXPECT_EQ(track_.client_format.mBytesPerFrame, 2U);
  EXPECT_EQ(track_.client_format.mBytesPerPacket, 2U);
  EXPECT_EQ(track_.client_format.mChannelsPerFrame, 1U);
  EXPECT_EQ(track_.client_format.mSampleRate, 22050);
}

TEST_F(TrackTest, EveryExtensionOpensWithTheMp3Hint) {
  for (const char* name : {"a.mp3", "b.wav", "c.flac", "d.m4a"}) {
    ASSERT_EQ(Load(WriteTrack(name, TaggedContents())), 0) << name;
    CloseTrack(&track_);
  }
  EXPECT_THAT(fake_audio::CallLog(Op::kAudioFileOpenWithCallbacks),
              ElementsAre("AudioFileOpenWithCallbacks(MPG3)", "AudioFileOpenWithCallbacks(MPG3)",
                          "AudioFileOpenWithCallbacks(MPG3)", "AudioFileOpenWithCallbacks(MPG3)"));
}

TEST_F(TrackTest, CloseReleasesHandlesInReverseOrderAndKeepsTheTexts) {
  ASSERT_EQ(Load(WriteTrack("song.mp3", TaggedContents())), 0);
  SInt64 size = track_.size;
  int closed_at = static_cast<int>(fake_audio::CallLog().size());

  CloseTrack(&track_);

  ExpectEmptyHandles();
  EXPECT_EQ(fake_audio::FindCall("ExtAudioFileDispose", closed_at - 1), closed_at);
  EXPECT_EQ(fake_audio::FindCall("AudioFileClose", closed_at - 1), closed_at + 1);
  EXPECT_EQ(track_.size, size);
  EXPECT_EQ(track_.metadata.title, "Song");
  EXPECT_GT(track_.duration, 0);
  EXPECT_EQ(track_.client_format.mBytesPerFrame, 4U);

  CloseTrack(&track_);  // Holds nothing now: left alone.
  CloseTrack(nullptr);
  EXPECT_EQ(fake_audio::CallCount(Op::kAudioFileClose), 1);
}

TEST_F(TrackTest, NullTrackFails) {
  EXPECT_EQ(LoadTrack(nullptr, "whatever.mp3"), -1);
  EXPECT_THAT(fake_audio::CallLog(), IsEmpty());
}

TEST_F(TrackTest, LoadResetsWhatTheLastLoadLeft) {
  ASSERT_EQ(Load(WriteTrack("tagged.mp3", TaggedContents())), 0);
  CloseTrack(&track_);
  FakeFileContents bare = engine_test::ContentsWithFrames(10);
  bare.has_info_dictionary = false;
  bare.frames_per_packet = 0;
  ASSERT_EQ(Load(WriteTrack("bare.mp3", bare)), 0);
  EXPECT_EQ(track_.metadata.title, "");
  EXPECT_EQ(track_.metadata.genre, "");
  EXPECT_EQ(track_.duration, 0.0);
}

TEST_F(TrackTest, MissingInfoDictionaryOrKeysGiveEmptyTexts) {
  FakeFileContents contents = TaggedContents();
  contents.has_info_dictionary = false;
  ASSERT_EQ(Load(WriteTrack("untagged.mp3", contents)), 0);
  EXPECT_EQ(track_.metadata.title, "");
  EXPECT_EQ(track_.metadata.year, "");
  CloseTrack(&track_);

  contents = TaggedContents();
  contents.tags = {{"artist", "Only Artist"}};
  ASSERT_EQ(Load(WriteTrack("artist.mp3", contents)), 0);
  EXPECT_EQ(track_.metadata.title, "");
  EXPECT_EQ(track_.metadata.artist, "Only Artist");
  CloseTrack(&track_);

  int next_property_call = fake_audio::CallCount(Op::kAudioFileGetProperty) + 1;
  fake_audio::FailNthCall(Op::kAudioFileGetProperty, next_property_call,
                          kAudioFileUnspecifiedError);
  ASSERT_EQ(Load(WriteTrack("failing-info.mp3", TaggedContents())), 0);
  EXPECT_EQ(track_.metadata.artist, "");
}

TEST_F(TrackTest, TagsThatDoNotFitTheBufferAreDroppedNotCut) {
  FakeFileContents contents = TaggedContents();
  contents.tags["title"] = std::string(600, 'a');
  contents.tags["artist"] = std::string(511, 'b');
  contents.tags["album"] = std::string(512, 'c');
  std::string two_byte_letters;
  for (int i = 0; i < 256; ++i) {
    two_byte_letters += "\xC3\xA9";  // 512 bytes of UTF-8: one too many with the NUL.
  }
  contents.tags["genre"] = two_byte_letters;
  contents.tags["year"] = "\xE2\x99\xAA 2001";
  ASSERT_EQ(Load(WriteTrack("long.mp3", contents)), 0);
  EXPECT_EQ(track_.metadata.title, "");
  EXPECT_EQ(track_.metadata.artist, std::string(511, 'b'));
  EXPECT_EQ(track_.metadata.album, "");
  EXPECT_EQ(track_.metadata.genre, "");
  EXPECT_EQ(track_.metadata.year, "\xE2\x99\xAA 2001");
}

TEST_F(TrackTest, ZeroFramesPerPacketGivesZeroDurationAndStillLoads) {
  FakeFileContents contents = TaggedContents();
  contents.frames_per_packet = 0;
  ASSERT_EQ(Load(WriteTrack("odd.mp3", contents)), 0);
  EXPECT_EQ(track_.duration, 0.0);
}

TEST_F(TrackTest, MissingFileFailsToOpen) {
  std::string errors;
  EXPECT_EQ(Load(dir_ / "absent.mp3", &errors), -1);
  EXPECT_EQ(errors, "Failed to open file: No such file or directory\n");
  ExpectEmptyHandles();
  EXPECT_THAT(fake_audio::CallLog(), IsEmpty());
}

TEST_F(TrackTest, DirectoryFailsToRead) {
  std::filesystem::create_directory(dir_ / "album.mp3");
  std::string errors;
  EXPECT_EQ(Load(dir_ / "album.mp3", &errors), -1);
  EXPECT_EQ(errors, "Failed to read file: Is a directory\n");
  ExpectEmptyHandles();
  EXPECT_THAT(fake_audio::CallLog(), IsEmpty());
}

TEST_F(TrackTest, FifoFailsAtOnceInsteadOfBlocking) {
  std::string fifo = dir_ / "stream.mp3";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
  std::string errors;
  auto load = std::async(std::launch::async, [&] { return Load(fifo, &errors); });
  if (load.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    // Give the stuck open a writer so that the test can end, then report the hang.
    int writer = open(fifo.c_str(), O_WRONLY);
    close(writer);
    load.wait();
    FAIL() << "LoadTrack blocked on a FIFO";
  }
  EXPECT_EQ(load.get(), -1);
  EXPECT_EQ(errors, "Failed to open file: Illegal seek\n");
  ExpectEmptyHandles();
}

TEST_F(TrackTest, DeviceNamedLikeAnAudioFileFailsToOpen) {
  std::string link = dir_ / "endless.mp3";
  std::filesystem::create_symlink("/dev/zero", link);
  std::string errors;
  EXPECT_EQ(Load(link, &errors), -1);
  EXPECT_EQ(errors, "Failed to open file: Operation not supported\n");
  ExpectEmptyHandles();
  EXPECT_THAT(fake_audio::CallLog(), IsEmpty());
}

TEST_F(TrackTest, EmptyFileFailsSilentlyAsUndecodable) {
  std::string path = dir_ / "empty.mp3";
  test_support::WriteFile(path, "");
  std::string errors;
  EXPECT_EQ(Load(path, &errors), -1);
  EXPECT_THAT(errors, IsEmpty());
  ExpectEmptyHandles();
  EXPECT_THAT(fake_audio::CallLog(), ElementsAre("AudioFileOpenWithCallbacks(MPG3)"));
}

TEST_F(TrackTest, FileThatIsNoAudioFailsSilently) {
  std::string path = dir_ / "notes.mp3";
  test_support::WriteFile(path, "just some text, not audio\n");
  std::string errors;
  EXPECT_EQ(Load(path, &errors), -1);
  EXPECT_THAT(errors, IsEmpty());
  ExpectEmptyHandles();
}

// One failing step of LoadTrack and the releases that must follow it.
struct FailingStep {
  const char* name;
  Op op;
  int nth;
  std::vector<std::string> releases;  // The calls after the failing one, in order.
  bool keeps_texts;
};

void PrintTo(const FailingStep& step, std::ostream* out) { *out << step.name; }

class TrackFailingStepTest : public TrackTest, public ::testing::WithParamInterface<FailingStep> {};

TEST_P(TrackFailingStepTest, ReleasesWhatWasTakenNewestFirst) {
  const FailingStep& step = GetParam();
  fake_audio::FailNthCall(step.op, step.nth, kAudioFileUnspecifiedError);
  std::string errors;
  EXPECT_EQ(Load(WriteTrack("song.mp3", TaggedContents()), &errors), -1);

  EXPECT_THAT(errors, IsEmpty());
  ExpectEmptyHandles();
  std::vector<std::string> log = fake_audio::CallLog();
  std::vector<std::string> after_failure;
  int failed_at = -1;
  for (int i = 0, seen = 0; i < static_cast<int>(log.size()); ++i) {
    if (log[i].rfind(fake_audio::OpName(step.op), 0) == 0 && ++seen == step.nth) {
      failed_at = i;
    }
  }
  ASSERT_GE(failed_at, 0);
  after_failure.assign(log.begin() + failed_at + 1, log.end());
  EXPECT_EQ(after_failure, step.releases);
  EXPECT_EQ(track_.metadata.title, step.keeps_texts ? "Song" : "");
  EXPECT_EQ(track_.metadata.genre, step.keeps_texts ? "Jazz" : "");
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, TrackFailingStepTest,
    ::testing::Values(FailingStep{"Open", Op::kAudioFileOpenWithCallbacks, 1, {}, false},
                      FailingStep{
                          "Wrap", Op::kExtAudioFileWrapAudioFileID, 1, {"AudioFileClose"}, false},
                      FailingStep{"PacketCount",
                                  Op::kAudioFileGetProperty,
                                  2,
                                  {"ExtAudioFileDispose", "AudioFileClose"},
                                  true},
                      FailingStep{"FileFormat",
                                  Op::kExtAudioFileGetProperty,
                                  1,
                                  {"ExtAudioFileDispose", "AudioFileClose"},
                                  true},
                      FailingStep{"ClientFormat",
                                  Op::kExtAudioFileSetProperty,
                                  1,
                                  {"ExtAudioFileDispose", "AudioFileClose"},
                                  true}),
    [](const ::testing::TestParamInfo<FailingStep>& info) { return info.param.name; });

TEST_F(TrackTest, FailedClientFormatKeepsTheComputedDurationAndFormat) {
  fake_audio::FailNthCall(Op::kExtAudioFileSetProperty, 1, kAudioFileUnspecifiedError);
  EXPECT_EQ(Load(WriteTrack("song.mp3", TaggedContents())), -1);
  EXPECT_DOUBLE_EQ(track_.duration, 441.0 * 1152.0 / 44100.0);
  EXPECT_EQ(track_.client_format.mBytesPerFrame, 4U);
}

class ReadTrackBytesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 100; ++i) {
      bytes_.push_back(static_cast<unsigned char>(i));
    }
    track_.data = bytes_.data();
    track_.size = static_cast<SInt64>(bytes_.size());
  }

  // Reads through the callback; the count it reports. The status must be 0 every time.
  UInt32 Read(SInt64 position, UInt32 request) {
    out_.assign(4096, 0xEE);
    UInt32 actual = 12345;
    EXPECT_EQ(ReadTrackBytes(&track_, position, request, out_.data(), &actual), noErr);
    return actual;
  }

  std::vector<unsigned char> bytes_;
  std::vector<unsigned char> out_;
  AudioTrack track_;
};

TEST_F(ReadTrackBytesTest, CopiesWithinTheFileOnly) {
  EXPECT_EQ(Read(0, 100), 100U);
  EXPECT_EQ(out_[99], 99);
  EXPECT_EQ(out_[100], 0xEE);

  EXPECT_EQ(Read(90, 4096), 10U);
  EXPECT_EQ(out_[0], 90);
  EXPECT_EQ(out_[9], 99);
  EXPECT_EQ(out_[10], 0xEE);

  EXPECT_EQ(Read(100, 4096), 0U);
  EXPECT_EQ(Read(5000, 16), 0U);
  EXPECT_EQ(Read(-1, 16), 0U);
  EXPECT_EQ(Read(10, 0), 0U);
  EXPECT_EQ(out_[0], 0xEE);
  EXPECT_EQ(GetTrackSize(&track_), 100);
  track_.data = nullptr;
}

}  // namespace
