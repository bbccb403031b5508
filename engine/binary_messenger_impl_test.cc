#include "engine/binary_messenger_impl.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/headless_engine_fixture.h"
#include "tests/stderr_capture.h"

namespace flutter {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using velmoran_testing::StderrLinesOf;

const char kDuplicateResponse[] =
    "Error: Response can be set only once. Ignoring duplicate response.";

class BinaryMessengerTest : public velmoran_testing::HeadlessEngineTest {
 protected:
  BinaryMessengerTest() : messenger_(std::make_unique<BinaryMessengerImpl>(engine().messenger())) {
    engine().TakeCallLog();
  }

  // Installs a handler that keeps every reply it gets, unanswered.
  void KeepReplies(const std::string& channel) {
    messenger_->SetMessageHandler(channel, [this](const uint8_t*, size_t, BinaryReply reply) {
      kept_replies_.push_back(std::move(reply));
    });
  }

  std::unique_ptr<BinaryMessengerImpl> messenger_;
  std::vector<BinaryReply> kept_replies_;
};

TEST_F(BinaryMessengerTest, MessageAndResponseTravelWithoutCopies) {
  const uint8_t* seen_message = nullptr;
  size_t seen_size = 0;
  static const uint8_t kResponse[] = {7, 8, 9};
  messenger_->SetMessageHandler("chan",
                                [&](const uint8_t* message, size_t size, BinaryReply reply) {
                                  seen_message = message;
                                  seen_size = size;
                                  reply(kResponse, sizeof kResponse);
                                });

  velmoran_host::Delivery delivery = engine().Deliver("chan", {1, 2, 3, 4});

  EXPECT_EQ(seen_message, delivery.message_pointer());
  EXPECT_EQ(seen_size, 4u);
  ASSERT_TRUE(delivery.responded());
  EXPECT_EQ(delivery.response(), (std::vector<uint8_t>{7, 8, 9}));
  EXPECT_EQ(delivery.response_pointer(), kResponse);
  EXPECT_EQ(engine().messenger_references(), 1) << "the message's reference was not given back";
  EXPECT_THAT(engine().TakeCallLog(),
              ElementsAre("FlutterDesktopMessengerSetCallback", "FlutterDesktopMessengerAddRef",
                          "FlutterDesktopMessengerLock", "FlutterDesktopMessengerIsAvailable",
                          "FlutterDesktopMessengerSendResponse", "FlutterDesktopMessengerUnlock",
                          "FlutterDesktopMessengerRelease"));
}

TEST_F(BinaryMessengerTest, ReplacingAHandlerDestroysTheOldOneAndKeepsTheAddress) {
  auto first_state = std::make_shared<int>(0);
  messenger_->SetMessageHandler("chan", [first_state](const uint8_t*, size_t, BinaryReply) {});
  auto first = engine().GetChannelCallback("chan");
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first_state.use_count(), 2);

  int second_calls = 0;
  messenger_->SetMessageHandler("chan", [&](const uint8_t*, size_t, BinaryReply reply) {
    ++second_calls;
    reply(nullptr, 0);
  });
  auto second = engine().GetChannelCallback("chan");
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(first_state.use_count(), 1) << "the replaced handler still exists";
  EXPECT_EQ(second->user_data, first->user_data);
  EXPECT_EQ(second->callback, first->callback);

  engine().Deliver("chan", {});
  EXPECT_EQ(second_calls, 1);
}

TEST_F(BinaryMessengerTest, RemovingAHandlerClearsTheEngineCallbackEvenWithoutOne) {
  messenger_->SetMessageHandler("other", nullptr);
  EXPECT_THAT(engine().TakeCallLog(), ElementsAre("FlutterDesktopMessengerSetCallback"));
  EXPECT_FALSE(engine().GetChannelCallback("other").has_value());

  KeepReplies("chan");
  messenger_->SetMessageHandler("chan", nullptr);
  EXPECT_FALSE(engine().GetChannelCallback("chan").has_value());
  velmoran_host::Delivery delivery = engine().Deliver("chan", {1});
  EXPECT_FALSE(delivery.handled());
  EXPECT_THAT(kept_replies_, IsEmpty());
}

TEST_F(BinaryMessengerTest, ChannelNamesAreKeptWholeButReachTheEngineUpToTheirFirstZero) {
  int short_calls = 0;
  int long_calls = 0;
  messenger_->SetMessageHandler("ab", [&](const uint8_t*, size_t, BinaryReply) { ++long_calls; });
  messenger_->SetMessageHandler("a", [&](const uint8_t*, size_t, BinaryReply) { ++short_calls; });
  engine().Deliver("a", {});
  engine().Deliver("ab", {});
  EXPECT_EQ(short_calls, 1);
  EXPECT_EQ(long_calls, 1);

  int zero_calls = 0;
  messenger_->SetMessageHandler(std::string("z\0tail", 6),
                                [&](const uint8_t*, size_t, BinaryReply) { ++zero_calls; });
  engine().Deliver("z", {});
  EXPECT_EQ(zero_calls, 1);
}

TEST_F(BinaryMessengerTest, AReplyAnswersOnceEvenWhenCopied) {
  KeepReplies("chan");
  velmoran_host::Delivery delivery = engine().Deliver("chan", {});
  ASSERT_EQ(kept_replies_.size(), 1u);
  BinaryReply copy = kept_replies_[0];
  const uint8_t kByte = 5;
  engine().TakeCallLog();

  auto first_lines = StderrLinesOf([&] { kept_replies_[0](&kByte, 1); });
  auto second_lines = StderrLinesOf([&] { kept_replies_[0](&kByte, 1); });
  auto copy_lines = StderrLinesOf([&] { copy(&kByte, 1); });

  EXPECT_THAT(first_lines, IsEmpty());
  EXPECT_THAT(second_lines, ElementsAre(kDuplicateResponse));
  EXPECT_THAT(copy_lines, ElementsAre(kDuplicateResponse));
  EXPECT_EQ(delivery.response(), std::vector<uint8_t>{5});
  EXPECT_THAT(engine().TakeCallLog(),
              ElementsAre("FlutterDesktopMessengerLock", "FlutterDesktopMessengerIsAvailable",
                          "FlutterDesktopMessengerSendResponse", "FlutterDesktopMessengerUnlock",
                          "FlutterDesktopMessengerLock", "FlutterDesktopMessengerIsAvailable",
                          "FlutterDesktopMessengerUnlock", "FlutterDesktopMessengerLock",
                          "FlutterDesktopMessengerIsAvailable", "FlutterDesktopMessengerUnlock"));
}

TEST_F(BinaryMessengerTest, AMessageWithoutResponseHandleCannotBeAnswered) {
  KeepReplies("chan");
  auto callback = engine().GetChannelCallback("chan");
  ASSERT_TRUE(callback.has_value());
  // The engine delivers a message that expects no response.
  FlutterDesktopMessage record{};
  record.struct_size = sizeof record;
  record.channel = "chan";
  callback->callback(engine().messenger(), &record, callback->user_data);
  ASSERT_EQ(kept_replies_.size(), 1u);
  engine().TakeCallLog();

  auto lines = StderrLinesOf([&] { kept_replies_[0](nullptr, 0); });
  EXPECT_THAT(lines, ElementsAre(kDuplicateResponse));
  EXPECT_THAT(engine().TakeCallLog(),
              ElementsAre("FlutterDesktopMessengerLock", "FlutterDesktopMessengerIsAvailable",
                          "FlutterDesktopMessengerUnlock"));
}

TEST_F(BinaryMessengerTest, AReplyWhileTheEngineIsUnavailableSendsNothingAndCanTryAgain) {
  KeepReplies("chan");
  velmoran_host::Delivery delivery = engine().Deliver("chan", {});
  engine().SetAvailable(false);
  const uint8_t kByte = 1;
  auto lines = StderrLinesOf([&] { kept_replies_[0](&kByte, 1); });
  EXPECT_THAT(lines, IsEmpty());
  EXPECT_FALSE(delivery.responded());

  engine().SetAvailable(true);
  kept_replies_[0](&kByte, 1);
  EXPECT_TRUE(delivery.responded());
}

TEST_F(BinaryMessengerTest, EachMessageHoldsOneReferenceUntilItsLastReplyGoes) {
  messenger_->SetMessageHandler("dropped", [](const uint8_t*, size_t, BinaryReply) {});
  velmoran_host::Delivery dropped = engine().Deliver("dropped", {});
  EXPECT_FALSE(dropped.responded());
  EXPECT_EQ(engine().messenger_references(), 1);

  KeepReplies("kept");
  engine().Deliver("kept", {});
  velmoran_host::Delivery later = engine().Deliver("kept", {9});
  EXPECT_EQ(engine().messenger_references(), 3);
  BinaryReply copy = kept_replies_[1];
  EXPECT_EQ(engine().messenger_references(), 3) << "copies share their message's reference";

  kept_replies_[1](nullptr, 0);
  EXPECT_TRUE(later.responded());
  kept_replies_.clear();
  EXPECT_EQ(engine().messenger_references(), 2);
  copy = nullptr;
  EXPECT_EQ(engine().messenger_references(), 1);
}

TEST_F(BinaryMessengerTest, KeptRepliesOutliveTheEngineSafely) {
  KeepReplies("chan");
  engine().Deliver("chan", {});
  messenger_.reset();
  engine_.reset();
  // The messenger lives on for the reply, which now finds the engine unavailable.
  auto lines = StderrLinesOf([&] { kept_replies_[0](nullptr, 0); });
  EXPECT_THAT(lines, IsEmpty());
  kept_replies_.clear();
}

TEST_F(BinaryMessengerTest, SendUsesThePlainSendWithoutAReply) {
  const uint8_t kMessage[] = {1, 2};
  messenger_->Send("out", kMessage, sizeof kMessage);
  EXPECT_THAT(engine().TakeCallLog(), ElementsAre("FlutterDesktopMessengerSend"));
  auto sent = engine().TakeSentMessages();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].channel(), "out");
  EXPECT_EQ(sent[0].message(), (std::vector<uint8_t>{1, 2}));
  EXPECT_FALSE(sent[0].expects_reply());
}

TEST_F(BinaryMessengerTest, SendWithAReplyGetsTheEngineAnswerOnce) {
  std::vector<std::vector<uint8_t>> answers;
  messenger_->Send("out", nullptr, 0, [&](const uint8_t* reply, size_t size) {
    answers.emplace_back(reply, reply + size);
  });
  EXPECT_THAT(engine().TakeCallLog(), ElementsAre("FlutterDesktopMessengerSendWithReply"));
  auto sent = engine().TakeSentMessages();
  ASSERT_EQ(sent.size(), 1u);
  ASSERT_TRUE(sent[0].expects_reply());
  sent[0].Reply({4, 2});
  sent[0].Reply({0});
  EXPECT_THAT(answers, ElementsAre(std::vector<uint8_t>{4, 2}));
}

TEST_F(BinaryMessengerTest, ARefusedSendDropsItsReplyUncalled) {
  engine().SetRefuseSendsWithReply(true);
  auto witness = std::make_shared<int>(0);
  bool called = false;
  messenger_->Send("out", nullptr, 0,
                   [witness, &called](const uint8_t*, size_t) { called = true; });
  EXPECT_EQ(witness.use_count(), 1) << "the held copy of the reply was not destroyed";
  EXPECT_FALSE(called);
  EXPECT_THAT(engine().TakeSentMessages(), IsEmpty());
}

TEST_F(BinaryMessengerTest, PendingRepliesAreAnsweredEmptyWhenTheEngineGoes) {
  std::vector<size_t> answer_sizes;
  messenger_->Send("out", nullptr, 0,
                   [&](const uint8_t*, size_t size) { answer_sizes.push_back(size); });
  engine_.reset();
  EXPECT_THAT(answer_sizes, ElementsAre(0u));
}

TEST_F(BinaryMessengerTest, DestroyingTheMessengerDestroysHandlersWithoutCallingTheEngine) {
  auto state = std::make_shared<int>(0);
  messenger_->SetMessageHandler("one", [state](const uint8_t*, size_t, BinaryReply) {});
  messenger_->SetMessageHandler("two", [state](const uint8_t*, size_t, BinaryReply) {});
  engine().TakeCallLog();
  messenger_.reset();
  EXPECT_EQ(state.use_count(), 1);
  EXPECT_THAT(engine().TakeCallLog(), IsEmpty());
}

// The host reports what the real engine would crash on; the fixture fails a test on any report.
TEST_F(BinaryMessengerTest, TheHostReportsEngineMisuse) {
  FlutterDesktopMessengerRef messenger = engine().messenger();
  FlutterDesktopMessengerRelease(messenger);
  FlutterDesktopMessengerUnlock(messenger);
  FlutterDesktopMessengerLock(messenger);
  FlutterDesktopMessengerSendResponse(
      messenger, reinterpret_cast<const FlutterDesktopMessageResponseHandle*>(uintptr_t{99}),
      nullptr, 0);
  FlutterDesktopMessengerUnlock(messenger);
  FlutterDesktopMessengerSendResponse(
      messenger, reinterpret_cast<const FlutterDesktopMessageResponseHandle*>(uintptr_t{1}),
      nullptr, 0);
  EXPECT_THAT(TakeMisuses(),
              ElementsAre("messenger released more often than referenced (the engine's own "
                          "reference)",
                          "messenger unlocked by a thread that does not hold its lock",
                          "response on an unknown response handle",
                          "response sent without holding the messenger lock"));
}

}  // namespace
}  // namespace flutter
