#include "rtc/transport/loopback_pair.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

using rtc_test::LoopbackPair;
using rtc_test::Waiter;

// An application callback that throws costs its own event only: the process
// and the connection go on.
TEST(Failure, AThrowingCallbackLosesOnlyItsOwnEvent) {
  LoopbackPair pair;
  Waiter got;
  std::vector<std::string> messages;
  std::shared_ptr<rtc::DataChannel> remote;
  pair.answerer->onDataChannel([&](std::shared_ptr<rtc::DataChannel> dc) {
    dc->onMessage([&](rtc::message_variant m) {
      const auto text = std::get<std::string>(m);
      if (text == "throw") throw std::runtime_error("the application's fault");
      got.update([&] { messages.push_back(text); });
    });
    got.update([&] { remote = dc; });
    throw std::logic_error("also after taking the channel");
  });
  auto channel = pair.offerer->createDataChannel("input");
  Waiter opened;
  bool isOpen = false;
  channel->onOpen([&] {
    opened.update([&] { isOpen = true; });
    throw 42;
  });
  pair.offerer->setLocalDescription();
  ASSERT_TRUE(opened.waitFor([&] { return isOpen; }));
  channel->send(std::string("throw"));
  channel->send(std::string("after"));
  ASSERT_TRUE(got.waitFor([&] { return !messages.empty(); }));
  std::lock_guard lock(got.mutex());
  EXPECT_EQ(messages, std::vector<std::string>{"after"});
  EXPECT_EQ(pair.offererState, rtc::PeerConnection::State::Connected);
}
