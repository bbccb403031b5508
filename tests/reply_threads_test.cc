// Results kept by handlers and answered on other threads, also while the engine stops taking
// responses and goes away. Built and run under ThreadSanitizer in CI as well.

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "engine/binary_messenger_impl.h"
#include "method/method_channel.h"
#include "method/standard_method_codec.h"
#include "tests/headless_engine_fixture.h"
#include "tests/stderr_capture.h"

namespace flutter {
namespace {

// Results waiting to be answered, handed from the engine thread to the answering threads.
class ResultQueue {
 public:
  void Push(int32_t index, std::unique_ptr<MethodResult<>> result) {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      queue_.emplace_back(index, std::move(result));
    }
    ready_.notify_one();
  }

  void Close() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      closed_ = true;
    }
    ready_.notify_all();
  }

  // Answers results until the queue is closed and empty.
  void AnswerAll() {
    for (;;) {
      std::unique_lock<std::mutex> guard(mutex_);
      ready_.wait(guard, [this] { return closed_ || !queue_.empty(); });
      if (queue_.empty()) return;
      auto [index, result] = std::move(queue_.front());
      queue_.pop_front();
      guard.unlock();
      result->Success(EncodableValue(index));
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::pair<int32_t, std::unique_ptr<MethodResult<>>>> queue_;
  bool closed_ = false;
};

std::vector<uint8_t> SuccessEnvelope(int32_t index) {
  return *StandardMethodCodec::GetInstance().EncodeSuccessEnvelope(
      std::make_unique<EncodableValue>(index).get());
}

class ReplyThreadsTest : public velmoran_testing::HeadlessEngineTest {
 protected:
  static constexpr int kMessages = 2000;
  static constexpr int kThreads = 4;

  ReplyThreadsTest() : messenger_(std::make_unique<BinaryMessengerImpl>(engine().messenger())) {
    MethodChannel<> channel(messenger_.get(), "velmoran", &StandardMethodCodec::GetInstance());
    channel.SetMethodCallHandler(
        [this](const MethodCall<>& call, std::unique_ptr<MethodResult<>> result) {
          queue_.Push(static_cast<int32_t>(call.args()->AsInt64().value_or(-1)), std::move(result));
        });
    for (int i = 0; i < kThreads; ++i) answering_.emplace_back([this] { queue_.AnswerAll(); });
  }

  ~ReplyThreadsTest() override { FinishAnswering(); }

  velmoran_host::Delivery Deliver(int32_t index) {
    return engine().Deliver("velmoran",
                            *StandardMethodCodec::GetInstance().EncodeMethodCall(
                                MethodCall<>("answer", std::make_unique<EncodableValue>(index))));
  }

  void FinishAnswering() {
    queue_.Close();
    for (std::thread& thread : answering_) thread.join();
    answering_.clear();
  }

  ResultQueue queue_;
  std::unique_ptr<BinaryMessengerImpl> messenger_;
  std::vector<std::thread> answering_;
};

TEST_F(ReplyThreadsTest, EachMessageIsAnsweredOnceFromWhicheverThread) {
  std::vector<velmoran_host::Delivery> deliveries;
  for (int32_t i = 0; i < kMessages; ++i) deliveries.push_back(Deliver(i));
  FinishAnswering();

  for (int32_t i = 0; i < kMessages; ++i) {
    ASSERT_TRUE(deliveries[i].WaitForResponse(std::chrono::seconds(10))) << "message " << i;
    ASSERT_EQ(deliveries[i].response(), SuccessEnvelope(i)) << "message " << i;
  }
  EXPECT_EQ(engine().messenger_references(), 1);
}

TEST_F(ReplyThreadsTest, AnswersRacingTheEngineShutdownSendNothingAfterIt) {
  std::vector<velmoran_host::Delivery> deliveries;
  // Warnings about unanswered results are not expected, but the capture keeps the test's
  // output readable should one appear.
  velmoran_testing::StderrCapture capture;
  for (int32_t i = 0; i < kMessages; ++i) {
    deliveries.push_back(Deliver(i));
    if (i == kMessages / 2) engine().SetAvailable(false);
  }
  // The engine goes away while answers are still being given; kept results keep the messenger
  // alive, and the host reports any response it gets after it stopped taking them.
  messenger_.reset();
  engine_.reset();
  FinishAnswering();
  EXPECT_TRUE(velmoran_testing::SplitLines(capture.Finish()).empty());

  int responded = 0;
  for (int32_t i = 0; i < kMessages; ++i) {
    if (!deliveries[i].responded()) continue;
    ++responded;
    ASSERT_EQ(deliveries[i].response(), SuccessEnvelope(i)) << "message " << i;
  }
  EXPECT_LE(responded, kMessages / 2 + 1);
}

}  // namespace
}  // namespace flutter
