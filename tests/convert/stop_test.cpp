// A user stop ends the output at the end of a whole picture (access unit):
// a decoder finds nothing cut short at its end, in every container.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/flags.h"
#include "convert/engine.h"
#include "support/test_support.h"
#include "mux/mux_layout.h"
#include "convert_test_support.h"

namespace kelvor::test {
namespace {

TEST(UserStop, OutputEndsWithAWholePicture) {
  const auto dir = TempDir();
  for (const char* name : {"mpeg2_mp2_ac3.ts", "h264_eac3_mp2.ts"}) {
    const auto input = Fixture(name);
    if (!std::filesystem::exists(input)) GTEST_SKIP() << "generated streams are missing";
    for (const OutputFormat format : {OutputFormat::ProgramStream, OutputFormat::Ts, OutputFormat::M2ts}) {
      SCOPED_TRACE(std::string(name) + " format " + std::to_string(static_cast<int>(format)));
      StopAtFirstProgress ui;
      Engine engine(ui);
      engine.setInputPath(input.string());
      abortRequested = false;
      engine.runScan();
      ConversionRequest request;
      request.outputPath = (dir / "out").string();
      request.format = format;
      const ConversionOutcome outcome = engine.runConversion(request);
      abortRequested = false;
      EXPECT_TRUE(outcome.stoppedByUser);
      EXPECT_FALSE(outcome.reachedEndOfInput);
      std::string log;
      RunCommand("ffmpeg -nostdin -v error -i '" + request.outputPath + "' -map 0:v -f null - 2>&1", &log);
      EXPECT_EQ(log, "") << "the last picture is cut short";
    }
  }
}

}  // namespace
}  // namespace kelvor::test
