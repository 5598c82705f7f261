#include "agent/nkey.h"
#include "agent/rendezvous.h"

#include <gtest/gtest.h>

using namespace dravnok::agent;
using nlohmann::json;

namespace {

struct FakeSession : SessionChannel {
  std::vector<json> commands;
  std::deque<std::string> events;
  bool stopped = false;
  bool exited = false;
  bool sendCommand(const json& command) override {
    commands.push_back(command);
    return true;
  }
  void stop() override { stopped = true; }
  std::optional<std::string> nextEvent(std::chrono::milliseconds) override {
    if (events.empty()) return std::nullopt;
    std::string event = events.front();
    events.pop_front();
    return event;
  }
  bool drained() const override { return exited && events.empty(); }
  bool ended() const override { return exited; }
  void enforceDeadlines(Clock::time_point, std::chrono::seconds) override {}
};

// One browser tab: its key, and its current session.
struct Tab {
  std::string viewer;
  SessionId sid{};
  uint64_t seq = 0;
};

const json kIce = json::array({{{"urls", "turn:t:3478"}, {"username", "u"}, {"credential", "c"}, {"x", 1}}});

class RendezvousTest : public testing::Test {
protected:
  Tab tab(uint8_t n) {
    std::array<uint8_t, 32> seed{n};
    return {Nkey(NkeyKind::User, seed).publicText()};
  }
  std::vector<uint8_t> seal(Tab& t, const json& body, std::optional<SessionKey> key = std::nullopt) {
    return sealEnvelope(key.value_or(sessionKey(secret, Direction::ViewerToHost, t.sid)), Direction::ViewerToHost,
                        t.sid, t.seq++, body.dump());
  }
  // A new session of the tab.
  Tab& fresh(Tab& t) {
    t.sid[0] = ++sids;
    t.seq = 0;
    return t;
  }
  std::vector<uint8_t> hello(Tab& t, json ice = kIce) {
    return seal(fresh(t), {{"t", "hello"}, {"viewer", t.viewer}, {"ice", ice}});
  }
  void deliver(const std::vector<uint8_t>& message) { rendezvous.receive(message, now); }
  // What reached `t` since the last call, as (seq, body).
  std::vector<std::pair<uint64_t, json>> replies(const Tab& t) {
    std::vector<std::pair<uint64_t, json>> opened;
    std::erase_if(sent, [&](const auto& entry) {
      auto header = readEnvelopeHeader(entry.second, Direction::HostToViewer);
      if (entry.first != "dv1." + t.viewer || !header || header->sid != t.sid) return false;
      auto text = openEnvelope(sessionKey(secret, Direction::HostToViewer, t.sid), entry.second);
      opened.emplace_back(header->seq, json::parse(text.value()));
      return true;
    });
    return opened;
  }
  // Hello, welcome and offer: the tab's session runs.
  void join(Tab& t) {
    deliver(hello(t));
    auto welcome = replies(t).at(0).second;
    deliver(seal(t, {{"t", "offer"}, {"sdp", "v=0"}, {"challenge", welcome["challenge"]}}));
  }

  LinkSecret secret{7};
  uint8_t sids = 0;
  Rendezvous::Clock::time_point now{};
  std::vector<std::pair<std::string, std::vector<uint8_t>>> sent;
  std::vector<std::shared_ptr<FakeSession>> sessions;
  std::vector<json> iceGiven;
  Rendezvous rendezvous{secret, "view-only",
                        [this](const std::string& subject, std::vector<uint8_t> m) { sent.emplace_back(subject, m); },
                        [this](const json& ice) {
                          iceGiven.push_back(ice);
                          return sessions.emplace_back(std::make_shared<FakeSession>());
                        },
                        [](const std::string&) {}};
};

// The round trip itself and its events run in broker_test.py.
TEST_F(RendezvousTest, OnlyTheOfferWithTheWelcomesChallengeStartsTheHelperWithTheHellosIceServers) {
  Tab ann = tab(1);
  deliver(hello(ann));
  auto welcome = replies(ann).at(0).second;
  EXPECT_EQ(welcome["mode"], "view-only");
  deliver(seal(ann, {{"t", "offer"}, {"sdp", "v=0"}, {"challenge", "AAAAAAAAAAAAAAAAAAAAAA=="}}));
  deliver(seal(ann, {{"t", "ice"}, {"candidate", nullptr}})); // before the offer: dropped
  EXPECT_TRUE(sessions.empty());
  deliver(seal(ann, {{"t", "offer"}, {"sdp", "v=0"}, {"challenge", welcome["challenge"]}}));
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(iceGiven.at(0), json::parse(R"([{"urls":"turn:t:3478","username":"u","credential":"c"}])"));
}

TEST_F(RendezvousTest, ForgedReorderedOrOversizedMessagesChangeNothing) {
  Tab ann = tab(1);
  join(ann);
  deliver(seal(ann, {{"t", "ice"}, {"candidate", nullptr}})); // seq 2
  const json stop = {{"t", "stop"}}, deep = json::parse(R"({"t":"stop","a":[[[[[[[[1]]]]]]]]})");
  const json reoffer = {{"t", "offer"}, {"sdp", "v=1"}, {"challenge", "x"}};
  const json oversized = {{"t", "stop"}, {"pad", std::string(kMaxEnvelopeBytes, 'x')}};
  auto at = [&](uint64_t seq, const json& body) {
    ann.seq = seq;
    return seal(ann, body);
  };
  auto flipped = [&](size_t i) {
    auto message = at(10, stop);
    message[i % message.size()] ^= 1;
    return message;
  };
  auto truncated = at(10, stop);
  truncated.resize(kEnvelopeHeaderBytes + kEnvelopeTagBytes - 1);
  // clang-format off
  const std::pair<const char*, std::vector<uint8_t>> cases[] = {
      {"version", flipped(0)}, {"direction", flipped(1)}, {"sid", flipped(5)}, {"seq", flipped(25)},
      {"tag", flipped(size_t(-1))}, {"older", at(1, stop)}, {"replayed", at(2, stop)}, {"too deep", at(10, deep)},
      {"oversized", at(10, oversized)}, {"too short", truncated}, {"wrong challenge", at(10, reoffer)}};
  // clang-format on
  for (const auto& [name, message] : cases) {
    deliver(message);
    EXPECT_EQ(std::pair(sessions.at(0)->commands.size(), sessions[0]->stopped), std::pair(size_t{2}, false)) << name;
  }
  EXPECT_TRUE(replies(ann).empty());
  deliver(at(11, stop));
  EXPECT_TRUE(sessions[0]->stopped);
}

TEST_F(RendezvousTest, HellosThatBreakARuleGetNoWelcome) {
  Tab ann = tab(1);
  auto replayed = hello(ann);
  deliver(replayed);
  Tab late = ann;
  std::string challenge = replies(ann).at(0).second["challenge"];
  now += Rendezvous::kPendingTimeout;
  rendezvous.tick(now);
  json nine = json::array(), longCredential = json::parse(R"([{"urls":"turn:t"}])"), noUrls = {{{"username", "u"}}};
  for (int i = 0; i < 9; ++i) nine.push_back({{"urls", "stun:s"}});
  longCredential[0]["credential"] = std::string(513, 'c');
  const json notAUser = {{"t", "hello"}, {"viewer", tab(2).viewer + "A"}},
             seqOne = {{"t", "hello"}, {"viewer", ann.viewer}};
  hello(ann); // not sent: the next is the session's second message
  const std::pair<const char*, std::vector<uint8_t>> cases[] = {
      {"replayed", replayed},
      {"seq 1", seal(ann, seqOne)},
      {"not a user key", seal(fresh(ann), notAUser)},
      {"nine ICE servers", hello(ann, nine)},
      {"long credential", hello(ann, longCredential)},
      {"ICE without urls", hello(ann, noUrls)},
  };
  for (const auto& [name, message] : cases) {
    deliver(message);
    EXPECT_TRUE(sent.empty()) << name;
  }
  // The handshake that waited too long starts nothing.
  deliver(seal(late, {{"t", "offer"}, {"sdp", "v=0"}, {"challenge", challenge}}));
  EXPECT_TRUE(sessions.empty());
}

TEST_F(RendezvousTest, ASecondTabIsBusyTheSameTabTakesOverTheExitFreesTheHostAndHellosAreRateLimited) {
  // Eight handshakes wait at most: the ninth pushes out the first, ann's the second.
  std::vector<Tab> tabs;
  for (uint8_t i = 0; i < Rendezvous::kMaxPending + 1; ++i) deliver(hello(tabs.emplace_back(tab(10 + i))));
  auto offer = [&](Tab& t) {
    deliver(seal(t, {{"t", "offer"}, {"sdp", "v"}, {"challenge", replies(t).at(0).second["challenge"]}}));
    return replies(t);
  };
  EXPECT_TRUE(offer(tabs[0]).empty());
  EXPECT_TRUE(sessions.empty());
  Tab ann = tab(1), bob = tab(2);
  join(ann);
  EXPECT_EQ(offer(tabs[2]).at(0).second, (json{{"t", "busy"}})) << "ann's session runs";
  deliver(seal(tabs[3], {{"t", "stop"}})); // the tab gave up: its handshake is forgotten
  EXPECT_TRUE(offer(tabs[3]).empty());
  deliver(hello(bob));
  EXPECT_EQ(replies(bob).at(0), std::pair(uint64_t{0}, json{{"t", "busy"}}));
  join(ann); // a reconnect from the same tab
  ASSERT_EQ(sessions.size(), 2u);
  EXPECT_EQ(std::pair(sessions[0]->stopped, sessions[1]->stopped), std::pair(true, false));

  // The helper's exit event frees the host at once.
  sessions[1]->events = {R"({"evt":"exit","code":0})"};
  sessions[1]->exited = true;
  EXPECT_TRUE(rendezvous.pump(std::chrono::milliseconds(0)));
  EXPECT_EQ(replies(ann).at(0).second["event"]["evt"], "exit");

  // Twelve hellos, the pushed-out tab's offer and 27 pieces of junk use up the burst of 40.
  for (int i = 0; i < 27; ++i) deliver(std::vector<uint8_t>(100, 1));
  deliver(hello(bob));
  EXPECT_TRUE(replies(bob).empty());
  now += std::chrono::milliseconds(50);
  deliver(hello(bob));
  EXPECT_EQ(replies(bob).at(0).second["t"], "welcome");
}

} // namespace
