#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "TempDir.h"
#include "platform/VideoWriter.h"

namespace {

std::string probe(const std::string& file, const std::string& entries) {
  TempDir dir;
  const std::string out = dir.file("probe.txt");
  platform::runProgram({"ffprobe", "-v", "error", "-show_entries", entries, "-of",
                        "default=noprint_wrappers=1", file},
                       out);
  std::ifstream in(out);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeSilence(const std::string& path, int frames) {
  SF_INFO info{};
  info.samplerate = 44100;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr);
  std::vector<short> zeros(static_cast<size_t>(frames), 0);
  sf_writef_short(f, zeros.data(), frames);
  sf_close(f);
}

}  // namespace

TEST(VideoWriter, EncodesFramesAt24FpsWithTheSoundTrack) {
  TempDir dir;
  const std::string out = dir.file("answer.mp4");
  const std::string wav = dir.file("track.wav");
  writeSilence(wav, 44100 * 2);
  auto writer = platform::VideoWriter::open(out, 64, 96, 24);
  ASSERT_TRUE(writer) << writer.message();
  std::vector<std::uint8_t> frame(64 * 96 * 4);
  for (int i = 0; i < 48; ++i) {
    std::fill(frame.begin(), frame.end(), static_cast<std::uint8_t>(i * 5));
    ASSERT_TRUE((*writer)->writeFrame(frame.data()));
  }
  const platform::Status finished = (*writer)->finish(wav);
  ASSERT_TRUE(finished) << finished.message();
  EXPECT_TRUE(std::filesystem::exists(out));
  EXPECT_FALSE(std::filesystem::exists(out + ".video-only.mp4"));
  const std::string video = probe(out, "stream=codec_type,r_frame_rate,nb_frames,width,height");
  EXPECT_NE(video.find("codec_type=video"), std::string::npos) << video;
  EXPECT_NE(video.find("r_frame_rate=24/1"), std::string::npos) << video;
  EXPECT_NE(video.find("nb_frames=48"), std::string::npos) << video;
  EXPECT_NE(video.find("width=64"), std::string::npos) << video;
  EXPECT_NE(video.find("codec_type=audio"), std::string::npos) << video;
}

TEST(VideoWriter, RefusesAnUnwritableFolderAndLeavesNoPartialFileOnFailure) {
  const auto refused = platform::VideoWriter::open("/nonexistent-dir/a.mp4", 64, 96, 24);
  EXPECT_FALSE(refused);
  EXPECT_NE(refused.message().find("not a writable folder"), std::string::npos) << refused.message();

  TempDir dir;
  const std::string out = dir.file("empty.mp4");
  auto writer = platform::VideoWriter::open(out, 64, 96, 24);
  ASSERT_TRUE(writer) << writer.message();
  EXPECT_FALSE((*writer)->finish(""));  // no frame at all
  EXPECT_FALSE(std::filesystem::exists(out));

  auto second = platform::VideoWriter::open(out, 64, 96, 24);
  ASSERT_TRUE(second) << second.message();
  std::vector<std::uint8_t> frame(64 * 96 * 4, 128);
  ASSERT_TRUE((*second)->writeFrame(frame.data()));
  const platform::Status noTrack = (*second)->finish(dir.file("missing.wav"));
  EXPECT_FALSE(noTrack);
  EXPECT_NE(noTrack.message().find("sound track"), std::string::npos) << noTrack.message();
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(VideoWriter, AnEncoderThatClaimsSuccessWithoutTheVideoLeavesNoFile) {
  TempDir dir;
  TempDir bin;
  const std::string out = dir.file("answer.mp4");
  const std::string wav = dir.file("track.wav");
  writeSilence(wav, 44100);
  const std::string real = "/usr/bin/ffmpeg";
  ASSERT_TRUE(std::filesystem::exists(real));
  // Each stands in for ffmpeg, takes the frames and exits 0; "$last" is the file it should write.
  const std::string takeFrames = "#!/bin/bash\ncat >/dev/null\nlast=${@: -1}\n";
  struct Case {
    const char* encoder;
    std::string script;
  };
  const std::vector<Case> cases = {
      {"writes nothing", takeFrames + "exit 0\n"},
      {"writes an empty file", takeFrames + ": >\"$last\"\n"},
      {"writes something else", takeFrames + "echo 'not a video' >\"$last\"\n"},
      // These two encode as asked, then spoil the step that adds the sound track.
      {"keeps one frame", "#!/bin/bash\n[[ \" $* \" == *' pipe:0 '* ]] && exec " + real + " \"$@\"\nexec " + real +
                              " \"${@:1:$#-1}\" -frames:v 1 \"${@: -1}\"\n"},
      {"drops the sound track", "#!/bin/bash\nargs=() inputs=0\nwhile [ $# -gt 0 ]; do\n  case $1 in\n"
                                "    -i) inputs=$((inputs + 1)); [ $inputs = 2 ] && { shift 2; continue; } ;;\n"
                                "    -map|-c:a|-b:a) shift 2; continue ;;\n  esac\n  args+=(\"$1\"); shift\ndone\n"
                                "exec " + real + " \"${args[@]}\"\n"},
  };
  const std::string path = std::getenv("PATH");
  setenv("PATH", (bin.path().string() + ":" + path).c_str(), 1);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.encoder);
    std::ofstream(bin.file("ffmpeg")) << c.script;
    std::filesystem::permissions(bin.file("ffmpeg"), std::filesystem::perms::owner_all);
    auto writer = platform::VideoWriter::open(out, 64, 96, 24);
    ASSERT_TRUE(writer) << writer.message();
    std::vector<std::uint8_t> frame(64 * 96 * 4, 200);
    for (int i = 0; i < 12; ++i) ASSERT_TRUE((*writer)->writeFrame(frame.data()));
    const platform::Status finished = (*writer)->finish(wav);
    EXPECT_FALSE(finished);
    EXPECT_NE(finished.message().find(out), std::string::npos) << finished.message();
    writer->reset();
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) left.push_back(e.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{"track.wav"});
  }
  setenv("PATH", path.c_str(), 1);
}
