#include "rtc/mediahandler.hpp"

#include <gtest/gtest.h>

namespace {

// Tags each message with its name on the way out and on the way in.
struct Tagging : rtc::MediaHandler {
  explicit Tagging(char name, std::string& trace) : name(name), trace(trace) {}
  void outgoing(rtc::message_vector&, const rtc::message_callback&) override {
    trace += 'o';
    trace += name;
  }
  void incoming(rtc::message_vector&, const rtc::message_callback&) override {
    trace += 'i';
    trace += name;
  }
  char name;
  std::string& trace;
};

} // namespace

TEST(MediaHandler, OutgoingRunsHeadToNetworkAndIncomingNetworkToHead) {
  std::string trace;
  auto head = std::make_shared<Tagging>('a', trace);
  head->addToChain(std::make_shared<Tagging>('b', trace));
  head->addToChain(std::make_shared<Tagging>('c', trace));
  rtc::message_vector messages{rtc::make_message(4)};
  head->outgoingChain(messages, [](rtc::message_ptr) {});
  head->incomingChain(messages, [](rtc::message_ptr) {});
  EXPECT_EQ(trace, "oaobocicibia");
}
