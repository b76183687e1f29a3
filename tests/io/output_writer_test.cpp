// The output writer: file contents and length, the buffer hand-off between
// the two threads, and write failures.
#include "io/output_writer.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <vector>

#include "common/flags.h"
#include "support/test_support.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace kelvor {
namespace {

namespace fs = std::filesystem;
using test::PathText;
using test::ReadFile;
using test::RecordingUiPort;
using test::TempDir;

constexpr std::uint32_t kMiB = OutputWriter::kBufferSize;

// Packet n of a run: every byte tells where it belongs.
std::vector<std::uint8_t> Packet(std::size_t size, std::uint32_t n) {
  std::vector<std::uint8_t> p(size);
  for (std::size_t i = 0; i < size; ++i) p[i] = static_cast<std::uint8_t>(n * 7 + i * 13 + 1);
  return p;
}

struct WriterRig : ::testing::Test {
  void SetUp() override { abortRequested = false; }
  void TearDown() override {
    abortRequested = false;
    fs::remove_all(dir);
  }

  // Writes `count` packets of `size` bytes; returns what the file should hold.
  std::vector<std::uint8_t> WritePackets(std::size_t size, std::uint32_t count) {
    std::vector<std::uint8_t> expected;
    for (std::uint32_t n = 0; n < count; ++n) {
      const auto p = Packet(size, n);
      EXPECT_TRUE(writer.AppendPacket(p)) << n;
      expected.insert(expected.end(), p.begin(), p.end());
    }
    return expected;
  }

  RecordingUiPort ui;
  OutputWriter writer{ui};
  fs::path dir = TempDir();
};

TEST_F(WriterRig, ShortOutputIsPaddedWithZerosToA512ByteMultiple) {
  const auto path = dir / "five.ts";
  ASSERT_TRUE(writer.OpenOutput(PathText(path)));
  auto expected = WritePackets(188, 5);
  ASSERT_TRUE(writer.CloseOutput());
  expected.resize(1024, 0x00);
  EXPECT_EQ(ReadFile(path), expected);
  EXPECT_TRUE(ui.messages().empty());
  EXPECT_FALSE(writer.AppendPacket(Packet(188, 0))) << "closed output refuses packets";

  // An empty run makes an empty file.
  ASSERT_TRUE(writer.OpenOutput(PathText(dir / "empty.ts")));
  ASSERT_TRUE(writer.CloseOutput());
  EXPECT_EQ(fs::file_size(dir / "empty.ts"), 0u);
}

// A transport stream ends with its last packet, after a full buffer too
// (direct I/O writes the tail padded, then the padding is cut off).
TEST_F(WriterRig, ExactLengthOutputEndsAtItsLastByte) {
  for (const std::uint32_t count : {5u, kMiB / 188 + 7}) {
    const auto path = dir / "exact.ts";
    ASSERT_TRUE(writer.OpenOutput(PathText(path), {.exactLength = true, .keep = {}}));
    const auto expected = WritePackets(188, count);
    ASSERT_TRUE(writer.CloseOutput());
    EXPECT_EQ(ReadFile(path), expected) << count;
  }
  EXPECT_TRUE(ui.messages().empty());
}

// The file to keep (the input) is refused under any name before a byte of
// it changes: the path itself and a hard link.
TEST_F(WriterRig, RefusesToOverwriteTheFileToKeep) {
  const auto input = dir / "input.ts";
  const auto original = Packet(4096, 3);
  {
    ASSERT_TRUE(writer.OpenOutput(PathText(input)));
    ASSERT_TRUE(writer.AppendPacket(original));
    ASSERT_TRUE(writer.CloseOutput());
  }
  fs::create_hard_link(input, dir / "hard.ts");
  const OutputOptions keep{.keep = IdentityOfPath(PathText(input))};
  for (const auto& name : {input, dir / "hard.ts", dir / "." / "input.ts"}) {
    EXPECT_FALSE(writer.OpenOutput(PathText(name), keep)) << name;
    EXPECT_EQ(writer.lastError(), EEXIST);
    EXPECT_EQ(ReadFile(input), original) << name;
  }
  EXPECT_TRUE(writer.OpenOutput(PathText(dir / "other.ts"), keep));
  EXPECT_TRUE(writer.CloseOutput());
}

// Two writers of one name: a file that must be new is not taken once it
// exists, and a file one writer has open is not emptied by a second one.
TEST_F(WriterRig, TwoWritersNeverShareAFile) {
  const auto path = dir / "shared.mpg";
  const auto first = Packet(4096, 5);
  OutputOptions fresh;
  fresh.mustBeNew = true;
  ASSERT_TRUE(writer.OpenOutput(PathText(path), fresh));
  ASSERT_TRUE(writer.AppendPacket(first));

  OutputWriter second{ui};
  EXPECT_FALSE(second.OpenOutput(PathText(path), fresh));
  EXPECT_EQ(second.lastError(), kCreatedMeanwhile);
  EXPECT_FALSE(second.OpenOutput(PathText(path)));
  EXPECT_EQ(second.lastError(), kInUse);
  ASSERT_TRUE(writer.CloseOutput());
  EXPECT_EQ(ReadFile(path), first);

  // Once the first has closed it, the file is the second's to replace, but
  // not for one that was to find it empty.
  OutputOptions emptyOnly;
  emptyOnly.mustBeEmpty = true;
  EXPECT_FALSE(second.OpenOutput(PathText(path), emptyOnly));
  EXPECT_EQ(second.lastError(), kCreatedMeanwhile);
  EXPECT_EQ(ReadFile(path), first);
  EXPECT_TRUE(second.OpenOutput(PathText(path)));
  EXPECT_TRUE(second.CloseOutput());
  EXPECT_TRUE(ReadFile(path).empty());
}

TEST_F(WriterRig, ExactlyOneBufferMakesAFileOfExactlyOneMiB) {
  const auto path = dir / "one.mpg";
  ASSERT_TRUE(writer.OpenOutput(PathText(path)));
  const auto expected = WritePackets(2048, kMiB / 2048);
  ASSERT_TRUE(writer.CloseOutput());
  EXPECT_EQ(ReadFile(path), expected);
}

TEST_F(WriterRig, PacketsStraddlingBufferBoundariesArriveInOrder) {
  // 1 MiB = 5577 * 188 + 100: packet 5578 ends buffer A with its first 100
  // bytes and begins buffer B with its last 88. Five buffers alternate A, B.
  for (std::size_t size : {188u, 192u}) {
    const auto path = dir / ("straddle" + std::to_string(size));
    ASSERT_TRUE(writer.OpenOutput(PathText(path)));
    const std::uint32_t count = 5 * kMiB / static_cast<std::uint32_t>(size) + 3;
    auto expected = WritePackets(size, count);
    ASSERT_TRUE(writer.CloseOutput());
    const auto file = ReadFile(path);
    ASSERT_EQ(file.size() % 512, 0u);
    ASSERT_GE(file.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), file.begin()));
    EXPECT_TRUE(std::all_of(file.begin() + static_cast<std::ptrdiff_t>(expected.size()), file.end(),
                            [](std::uint8_t b) { return b == 0; }));
  }
  const auto p5578 = Packet(188, 5577);
  const auto file = ReadFile(dir / "straddle188");
  EXPECT_TRUE(std::equal(p5578.begin(), p5578.end(), file.begin() + 5577 * 188));
  EXPECT_TRUE(ui.messages().empty());
}

TEST_F(WriterRig, WorksOnFileSystemsWithAndWithoutDirectIo) {
  // tmpfs refuses direct I/O on many kernels; the writer falls back.
  for (const fs::path& base : {dir, fs::path("/dev/shm")}) {
    if (!fs::is_directory(base)) continue;
    const auto path = base / ("kelvor-writer-" + std::to_string(::getpid()) + ".m2ts");
    ASSERT_TRUE(writer.OpenOutput(PathText(path))) << base;
    auto expected = WritePackets(192, 2 * kMiB / 192 + 11);
    ASSERT_TRUE(writer.CloseOutput());
    expected.resize((expected.size() + 511) / 512 * 512, 0);
    EXPECT_EQ(ReadFile(path), expected) << base << " direct I/O " << writer.usesDirectIo();
    fs::remove(path);
  }
}

// A head written back at the close lands on the file's first bytes whether
// they are still in the buffer or long written (direct I/O and not), and
// the length stays exact; a device cannot go back and says so.
TEST_F(WriterRig, HeadIsWrittenBackAtTheClose) {
  const std::vector<std::uint8_t> head(300, 0xA5);
  for (const fs::path& base : {dir, fs::path("/dev/shm")}) {
    if (!fs::is_directory(base)) continue;
    for (const std::uint32_t count : {3u, 3 * kMiB / 1000 + 1}) {
      const auto path = base / ("kelvor-head-" + std::to_string(::getpid()) + ".mkv");
      ASSERT_TRUE(writer.OpenOutput(PathText(path), {.exactLength = true, .keep = {}}));
      auto expected = WritePackets(1000, count);
      ASSERT_TRUE(writer.RewriteHead(head));
      ASSERT_TRUE(writer.CloseOutput());
      std::copy(head.begin(), head.end(), expected.begin());
      EXPECT_EQ(ReadFile(path), expected) << base << " " << count;
      fs::remove(path);
    }
  }
  EXPECT_TRUE(ui.messages().empty());
  if (fs::exists("/dev/null")) {
    ASSERT_TRUE(writer.OpenOutput("/dev/null"));
    EXPECT_FALSE(writer.RewriteHead(head));
    EXPECT_TRUE(writer.CloseOutput());
  }
  EXPECT_FALSE(writer.RewriteHead(head)) << "closed";
}

TEST_F(WriterRig, UncreatableFileIsRefusedWithoutAMessage) {
  EXPECT_FALSE(writer.OpenOutput(PathText(dir / "no-such-dir" / "out.ts")));
  EXPECT_FALSE(writer.AppendPacket(Packet(188, 0)));
  EXPECT_FALSE(writer.CloseOutput());
  EXPECT_TRUE(ui.messages().empty());
  EXPECT_FALSE(abortRequested);
}

// Appends until the writer refuses; the conversion thread must never block.
std::uint32_t AppendUntilRefused(OutputWriter& writer, std::uint32_t limit) {
  std::uint32_t n = 0;
  while (n < limit && writer.AppendPacket(Packet(2048, n))) ++n;
  return n;
}

TEST_F(WriterRig, DeviceFullReportsOnceAndReleasesTheConversionThread) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  ASSERT_TRUE(writer.OpenOutput("/dev/full"));
  const std::uint32_t accepted = AppendUntilRefused(writer, 40 * kMiB / 2048);
  EXPECT_LT(accepted, 40 * kMiB / 2048) << "packets must be refused after the failure";
  EXPECT_TRUE(writer.HasFailed());
  EXPECT_FALSE(abortRequested) << "a failure is not the user's stop";
  EXPECT_FALSE(writer.CloseOutput());
  EXPECT_EQ(ui.messages(), std::vector<std::string>{"Output file write error"});
}

#ifndef _WIN32  // file size limits are POSIX
// Sets a file size limit for one test and restores it.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit saved_{};
  void (*oldHandler_)(int) = nullptr;
};

TEST_F(WriterRig, FileTooLargeInTheWriterThreadOrInTheLastWrite) {
  const auto path = dir / "limited.ts";
  {
    FileSizeLimit limit(kMiB + kMiB / 2);
    ASSERT_TRUE(writer.OpenOutput(PathText(path)));
    AppendUntilRefused(writer, 8 * kMiB / 2048);
    EXPECT_FALSE(writer.CloseOutput());
  }
  EXPECT_EQ(ui.messages(), std::vector<std::string>{"Output file write error"});
  // The file keeps what was written before the failure.
  const auto file = ReadFile(path);
  ASSERT_GE(file.size(), kMiB);
  const auto first = Packet(2048, 0);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), file.begin()));

  // Here the full buffer fits and only the padded tail is refused.
  RecordingUiPort ui2;
  OutputWriter writer2(ui2);
  {
    FileSizeLimit limit(kMiB + 100);
    ASSERT_TRUE(writer2.OpenOutput(PathText(dir / "tail.ts")));
    EXPECT_EQ(AppendUntilRefused(writer2, kMiB / 2048 + 3), kMiB / 2048 + 3);
    EXPECT_FALSE(writer2.CloseOutput());
  }
  EXPECT_EQ(ui2.messages(), std::vector<std::string>{"Output file write error"});
  EXPECT_FALSE(abortRequested);
}

#endif

TEST_F(WriterRig, AbandonedOutputIsClosedByTheDestructor) {
  RecordingUiPort ui2;
  {
    OutputWriter temporary(ui2);
    ASSERT_TRUE(temporary.OpenOutput(PathText(dir / "abandoned.ts")));
    for (std::uint32_t n = 0; n < 3 * kMiB / 2048; ++n)
      ASSERT_TRUE(temporary.AppendPacket(Packet(2048, n)));
  }
  EXPECT_TRUE(ui2.messages().empty());
}

}  // namespace
}  // namespace kelvor
