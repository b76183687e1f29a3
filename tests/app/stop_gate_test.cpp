#include "app/logic/stop_gate.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/flags.h"

namespace kelvor {
namespace {

class StopGateTest : public ::testing::Test {
 protected:
  void SetUp() override { abortRequested.store(false); }
  void TearDown() override { abortRequested.store(false); }

  // Presses Stop, answering the question with `answer`; records the button.
  void press(bool answer, const std::function<void()>& whileAsking = {}) {
    gate.stop([this](bool on) { button.push_back(on); },
              [&] {
                ++questions;
                if (whileAsking) whileAsking();
                return answer;
              });
  }

  StopGate gate;
  std::vector<bool> button;
  int questions = 0;
};

TEST_F(StopGateTest, NoKeepsTheRunGoingAndYesStopsIt) {
  press(false);
  EXPECT_FALSE(abortRequested.load());
  EXPECT_EQ(button, (std::vector<bool>{false, true}));  // disabled while asking, enabled after

  press(true);
  EXPECT_TRUE(abortRequested.load());
  EXPECT_EQ(questions, 2);
  EXPECT_TRUE(button.back());
}

TEST_F(StopGateTest, OnceAnAbortIsPendingStopDoesNothing) {
  abortRequested.store(true);  // a Stop already confirmed
  press(true);
  EXPECT_EQ(questions, 0);
  EXPECT_TRUE(button.empty());
}

TEST_F(StopGateTest, WorkerFinishingDuringTheQuestionClosesAfterTheAnswer) {
  bool closedEarly = true;
  press(true, [&] { closedEarly = gate.finishedMayClose(); });
  EXPECT_FALSE(closedEarly);
  EXPECT_TRUE(gate.takePendingClose());
  EXPECT_FALSE(gate.takePendingClose());  // only once
  // The run was already over: nothing is left to abort.
  EXPECT_FALSE(abortRequested.load());

  // Without a question open the dialog closes at once.
  EXPECT_TRUE(gate.finishedMayClose());
  EXPECT_FALSE(gate.takePendingClose());
}

}  // namespace
}  // namespace kelvor
