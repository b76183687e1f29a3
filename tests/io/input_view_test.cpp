// The mapped input window: sizes, slides, the end margin, big files and
// the messages for files that cannot be read.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/flags.h"
#include "io/input_view.h"
#include "io/output_writer.h"
#include "support/test_support.h"

namespace kelvor {
namespace {

std::string MakeFile(std::size_t size) {
  const auto path = test::TempDir() / "in.ts";
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + (i >> 16));
  test::WriteFile(path, bytes);
  return test::PathText(path);
}

class InputViewTest : public ::testing::Test {
 protected:
  void TearDown() override { abortRequested = false; }
  test::RecordingUiPort ui_;
};

TEST_F(InputViewTest, SlidesItsWindowAndShowsEveryByteInOrder) {
  constexpr std::size_t kWindow = InputView::kWindowSize;
  for (const std::size_t size : {kWindow, kWindow + 1, 2 * kWindow + 0x4321}) {
    InputView input(ui_);
    input.setPath(MakeFile(size));
    ASSERT_TRUE(input.open());
    EXPECT_EQ(input.viewSize(), std::min(size, kWindow));
    EXPECT_EQ(input.fileSizeMiB(), (size + 0xFFFFF) >> 20);
    std::uint64_t pos = 0;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> windows{{0, input.viewSize()}};
    while (!input.endOfInput()) {
      // Every byte up to the margin is there and holds what was written.
      ASSERT_EQ(input.readPtr()[0], static_cast<std::uint8_t>(pos * 7 + (pos >> 16)));
      constexpr std::uint32_t last = InputView::kEndMargin - 1;
      ASSERT_EQ(input.readPtr()[last], static_cast<std::uint8_t>((pos + last) * 7 + ((pos + last) >> 16)));
      ASSERT_TRUE(input.advance(pos % 3 == 0 ? 188 : 192));
      pos += pos % 3 == 0 ? 188 : 192;
      if (windows.back().first != input.viewOffset()) windows.emplace_back(input.viewOffset(), input.viewSize());
    }
    // The end is reached at the first position within the margin of the end.
    EXPECT_GE(pos, size - InputView::kEndMargin);
    EXPECT_LT(pos - 192, size - InputView::kEndMargin);
    if (size == kWindow + 1) {
      ASSERT_EQ(windows.size(), 2u);
      EXPECT_EQ(windows[1], (std::pair<std::uint64_t, std::uint32_t>{InputView::kSlideStep,
                                                                     kWindow + 1 - InputView::kSlideStep}));
    }
    input.close();
    input.close();  // a second close does nothing
  }
}

TEST_F(InputViewTest, TinyFilesEndAtTheFirstAdvanceAndNeverReadBeyondTheFile) {
  for (const std::size_t size : {1u, 188u, 564u, 565u}) {
    InputView input(ui_);
    input.setPath(MakeFile(size));
    ASSERT_TRUE(input.open());
    EXPECT_FALSE(input.isSyncByteAt(static_cast<std::uint32_t>(size)));
    EXPECT_FALSE(input.isSyncByteAt(576));
    ASSERT_TRUE(input.advance(1));
    EXPECT_TRUE(input.endOfInput()) << size;
  }
}

TEST_F(InputViewTest, ReportsFilesThatCannotBeRead) {
  InputView input(ui_);
  input.setPath("/nonexistent/x.ts");
  EXPECT_FALSE(input.open());
  EXPECT_FALSE(abortRequested);
  input.setPath(MakeFile(0));
  EXPECT_FALSE(input.open());
  input.setPath(test::TempDir().string());  // a directory
  EXPECT_FALSE(input.open());
  // A failure is a result, never the user's stop.
  EXPECT_FALSE(abortRequested);
  EXPECT_EQ(ui_.messages(), (std::vector<std::string>{"Input file not found", "Empty", "Unable to map"}));
  EXPECT_TRUE(input.endOfInput());
}

// Another program cuts the file short while it is read: inside the mapped
// window (the read faults and finds zeros) and ahead of it (seen when the
// window slides). Either way the next step is an input error, not a crash.
TEST_F(InputViewTest, FileCutShortWhileReadEndsWithAnInputError) {
  struct Case {
    std::size_t keep;     // bytes left in the file
    std::uint32_t readAt; // where the reader then goes, in steps of 4 KiB
  };
  for (const Case c : {Case{4096, 0xF000}, Case{0x30000, 0x3F000}}) {
    const std::string path = MakeFile(0x80000);
    InputView input(ui_);
    input.setPath(path);
    ASSERT_TRUE(input.open());
    std::error_code refused;
    std::filesystem::resize_file(test::PathOfText(path), c.keep, refused);
    // Windows refuses to shorten a file while a view of it is mapped.
    if (refused) GTEST_SKIP() << "the system keeps a mapped file from being cut: " << refused.message();
    bool ended = false;
    std::uint32_t sum = 0;  // the reads must happen
    while (input.position() < c.readAt) {
      sum += input.readPtr()[0];
      if (!input.advance(0x1000)) {
        ended = true;
        break;
      }
    }
    if (!ended) {
      sum += input.readPtr()[0];
      ended = !input.advance(0x1000);
    }
    EXPECT_TRUE(ended) << c.keep;
    EXPECT_TRUE(input.cutShort()) << c.keep;
    EXPECT_FALSE(abortRequested);
    EXPECT_LT(sum, 0x1000u * 255);
  }
  EXPECT_EQ(ui_.messages(), (std::vector<std::string>{"Unable to set view of", "Unable to set view of"}));
}

// Cut short ahead of the window: seen when the window slides, and the rest
// up to the new end is still read (a conversion then ends at a whole
// picture), with no fault and no message.
TEST_F(InputViewTest, FileCutShortAheadOfTheReaderIsReadToItsNewEnd) {
  const std::uint64_t keep = 0x280000;
  const std::string path = MakeFile(0x300000);
  InputView input(ui_);
  input.setPath(path);
  ASSERT_TRUE(input.open());
  std::error_code refused;
  std::filesystem::resize_file(test::PathOfText(path), keep, refused);
  if (refused) GTEST_SKIP() << "the system keeps a mapped file from being cut: " << refused.message();
  std::uint32_t sum = 0;
  while (!input.endOfInput()) {
    sum += input.readPtr()[0];
    ASSERT_TRUE(input.advance(0x1000)) << input.position();
  }
  EXPECT_TRUE(input.cutShort());
  EXPECT_EQ(input.fileSize(), keep);
  EXPECT_GE(input.position() + InputView::kEndMargin, keep);
  EXPECT_GT(sum, 0u);
  EXPECT_TRUE(ui_.messages().empty());
}

TEST_F(InputViewTest, ReadsBeyondFourGibibytes) {
  // A sparse file whose size has all ones in its low 32 bits; reads as zeros
  // except for marks placed around the 4 GiB boundary.
  const auto path = test::TempDir() / "big.ts";
  const std::uint64_t size = 0x1FFFFFFFFull;
  {
    std::ofstream(path, std::ios::binary).close();
    std::error_code refused;
    std::filesystem::resize_file(path, size, refused);
    if (refused) GTEST_SKIP() << "file system refuses a sparse 8 GiB file";
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(static_cast<std::streamoff>(0x100000000ll)).put(0x47);
    f.seekp(static_cast<std::streamoff>(size - 566)).put(0x47);
    ASSERT_TRUE(f.good());
  }
  InputView input(ui_);
  input.setPath(test::PathText(path));
  ASSERT_TRUE(input.open());
  EXPECT_EQ(input.fileSize(), size);
  EXPECT_EQ(input.fileSizeMiB(), 8192u);
  while (input.position() + 0xFFFF <= 0x100000000ull) ASSERT_TRUE(input.advance(0xFFFF));
  ASSERT_TRUE(input.advance(static_cast<std::uint32_t>(0x100000000ull - input.position())));
  EXPECT_EQ(input.readPtr()[0], 0x47);
  while (!input.endOfInput()) ASSERT_TRUE(input.advance(0xFFFF));
  std::filesystem::remove(path);
}

// Names are UTF-8 inside the program; Windows takes them through its wide
// calls, where a narrow call would lose every non-ASCII character.
TEST_F(InputViewTest, FilesWithNonAsciiNamesAreWrittenAndRead) {
  const std::string name = "Nachrichten \xC3\xBC\xC3\x9F \xE2\x80\x93 \xE6\x97\xA5\xE6\x9C\xAC.ts";
  const std::string path = test::PathText(test::TempDir()) + "/" + name;
  OutputWriter writer(ui_);
  ASSERT_TRUE(writer.OpenOutput(path, {.exactLength = true, .keep = {}}));
  const std::vector<std::uint8_t> packet(188 * 4, 0x47);
  ASSERT_TRUE(writer.AppendPacket(packet));
  ASSERT_TRUE(writer.CloseOutput());
  EXPECT_TRUE(std::filesystem::exists(test::PathOfText(path)));
  InputView input(ui_);
  input.setPath(path);
  ASSERT_TRUE(input.open());
  EXPECT_EQ(input.fileSize(), packet.size());
  EXPECT_STREQ(input.fileName(), name.c_str());
  EXPECT_EQ(input.identity(), IdentityOfPath(path));
}

}  // namespace
}  // namespace kelvor
