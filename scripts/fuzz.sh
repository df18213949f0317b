#!/usr/bin/env bash
# scripts/fuzz.sh [SECONDS]: fuzzes the load path (open, tags, length, client format, decoding
# every frame) for SECONDS (default 60) with libFuzzer, AddressSanitizer and UBSan, in
# build-fuzz/. Seeded with short tagged media of every format made with ffmpeg; what the fuzzer
# learns is kept in build-fuzz/fuzz-corpus for the next run. Fails on any crash, leak, timeout
# or sanitizer report, leaving the input in build-fuzz/fuzz-artifacts/ (keep it as a regression
# case in tests/fuzz/regressions/ once the fault is fixed).
#
# BREVALO_FUZZ_BUILD names a build folder where the fuzzer is built already, instead:
# scripts/test.sh builds it in build-asan/, with the unit tests (at -O0; build-fuzz/ is -O2).
set -eu
source "$(dirname "$0")/setup.sh"
seconds=${1:-60}
root=$BREVALO_ROOT
build=$root/${BREVALO_FUZZ_BUILD:-build-fuzz}
seeds=$build/fuzz-seeds
corpus=$build/fuzz-corpus
artifacts=$build/fuzz-artifacts

# seed NAME SOURCE [ffmpeg output options...]: one seed made from a lavfi SOURCE.
seed() {
  local name=$1 source=$2
  shift 2
  ffmpeg -nostdin -v error -y -f lavfi -i "$source" "$@" "$seeds/$name"
}

tags=(-metadata title=Title -metadata artist=Artist -metadata album=Album
  -metadata date=2004-05-12 -metadata genre=Genre)

make_seeds() {
  rm -rf "$seeds"
  mkdir -p "$seeds"
  local stereo="aevalsrc=exprs=0.4*sin(2*PI*440*t)+0.5|0.4*sin(2*PI*550*t)+0.5:s=44100:d=0.25"
  local mono="aevalsrc=exprs=0.4*sin(2*PI*440*t):s=8000:d=0.5"
  seed mp3_cbr.mp3 "$stereo" -c:a libmp3lame -b:a 128k "${tags[@]}"
  seed mp3_vbr.mp3 "$stereo" -c:a libmp3lame -q:a 4 "${tags[@]}"
  seed mp3_no_xing.mp3 "$mono" -c:a libmp3lame -q:a 4 -write_xing 0 "${tags[@]}"
  seed mp3_id3v1.mp3 "$mono" -c:a libmp3lame -b:a 32k -id3v2_version 0 -write_id3v1 1 \
    -metadata TIT2=Title -metadata TPE1=Artist -metadata TYER=2004
  # Two MP3s joined by cat: the rate and channel count change midway.
  cat "$seeds/mp3_id3v1.mp3" "$seeds/mp3_vbr.mp3" >"$seeds/mp3_joined.mp3"
  seed wav_s16.wav "$stereo" -c:a pcm_s16le "${tags[@]}"
  seed wav_u8.wav "$mono" -c:a pcm_u8
  seed wav_s24.wav "$mono" -c:a pcm_s24le
  seed wav_f32.wav "$mono" -c:a pcm_f32le
  seed flac_16.flac "$stereo" -c:a flac "${tags[@]}"
  seed flac_24.flac "$mono" -c:a flac -sample_fmt s32 "${tags[@]}"
  seed m4a_aac.m4a "$stereo" -c:a aac -b:a 96k "${tags[@]}"
  seed m4a_aac_mono.m4a "$mono" -c:a aac -b:a 32k
  seed m4a_alac.m4a "$stereo" -c:a alac "${tags[@]}"
  seed m4a_alac_mono.m4a "$mono" -c:a alac
  # The index ahead of the audio, as players that stream M4A want it.
  seed m4a_aac_faststart.m4a "$stereo" -c:a aac -b:a 64k -movflags +faststart "${tags[@]}"
  # More than two channels: WAVE_FORMAT_EXTENSIBLE, FLAC's channel assignments.
  local six="aevalsrc=exprs=0.1|0.2|0.3|0.4|0.5|0.6:s=8000:d=0.1:c=5.1"
  seed wav_6ch.wav "$six" -c:a pcm_s16le
  seed flac_6ch.flac "$six" -c:a flac
  seed wav_rf64.wav "$mono" -c:a pcm_s16le -rf64 always
  seed wav_alaw.wav "$mono" -c:a pcm_alaw
  # QuickTime PCM in the MP4 family's demuxer, under the name the program lists.
  seed mov_pcm.m4a "$mono" -c:a pcm_s16be -f mov
  touch "$seeds/.complete"
}

if [ -z "${BREVALO_FUZZ_BUILD:-}" ]; then
  CC=clang CXX=clang++ brevalo_build build-fuzz load_fuzzer -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBREVALO_FUZZ=ON -DBREVALO_SANITIZE=address,undefined -DBREVALO_TESTS=OFF -DBREVALO_BENCH=OFF
fi
# Not behind ||, which would keep a failed ffmpeg from stopping make_seeds.
if [ ! -f "$seeds/.complete" ]; then
  brevalo_step "Making the seed media" make_seeds
fi
mkdir -p "$corpus" "$artifacts"

# A non-zero exit is a finding; its input is written to the artifacts folder. The fuzzer's own
# running commentary goes to a log, shown whole only when there is a finding.
log=$build/fuzz-last.log
printf 'Fuzzing the load path for %s s:' "$seconds"
if "$build/tests/fuzz/load_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -dict="$root/tests/fuzz/load_fuzzer.dict" -artifact_prefix="$artifacts/" \
  -print_final_stats=1 "$corpus" "$seeds" "$root/tests/fuzz/regressions" >"$log" 2>&1; then
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  printf ' %s inputs, no finding\n' "${runs:-?}"
else
  printf ' failed\n--- output of the fuzzer (also in %s)\n' "$log"
  cat "$log"
  printf -- '--- end of the output\n'
  echo "The fuzzer found a fault; the input is in $artifacts/" >&2
  exit 1
fi
