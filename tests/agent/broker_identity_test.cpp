#include "agent/broker_link.h"
#include "agent/link_keys.h"
#include "agent/nkey.h"
#include "agent/server_config.h"
#include "agent/text_codec.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>

using namespace dravnok::agent;

namespace {

std::array<uint8_t, 32> seedFromHex(const std::string& hex) {
  std::array<uint8_t, 32> seed{};
  for (size_t i = 0; i < seed.size(); ++i) seed[i] = static_cast<uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
  return seed;
}

// The operator's script and the agent must read and write the same key texts.
TEST(BrokerIdentity, KeysMatchThoseTheAccountScriptWrites) {
#ifdef _WIN32
  GTEST_SKIP() << "the script runs on the build machine";
#endif
  std::string folder = testing::TempDir() + "broker-identities";
  std::filesystem::remove_all(folder);
  ASSERT_EQ(std::system(("python3 " DRAVNOK_SOURCE_DIR "/deploy/nats/make_accounts.py " + folder).c_str()), 0);
  auto signers = nlohmann::json::parse(std::ifstream(folder + "/signers.json"));
  auto keys = nlohmann::json::parse(std::ifstream(folder + "/keys.json"));
  auto key = [&](const char* name) { return Nkey(NkeyKind::Account, seedFromHex(keys[name])); };
  for (const char* role : {"host", "viewer"}) {
    std::string seedText = signers[std::string(role) + "Signer"];
    EXPECT_EQ(Nkey::fromSeedText(seedText).value().publicText(), key(role).publicText()) << role;
    EXPECT_EQ(key(role).seedText(), seedText) << role;
  }
  EXPECT_EQ(key("account").publicText(), signers["account"]);
  std::stringstream conf;
  conf << std::ifstream(folder + "/accounts.conf").rdbuf();
  EXPECT_NE(conf.str().find("system_account: " + key("system").publicText() + "\n"), std::string::npos);
}

// Other kinds of key are refused in ServerConfig and in the rendezvous.
// The page seals and derives the same bytes (its browser test pins this
// message too), as an independent implementation computed them.
TEST(BrokerIdentity, TheLinksKeysAndSealedFormAreThoseThePageUses) {
  LinkSecret secret;
  secret.fill(7);
  SessionId sid;
  sid.fill(1);
  const auto sealed = sealEnvelope(sessionKey(secret, Direction::ViewerToHost, sid), Direction::ViewerToHost, sid, 258,
                                   R"({"t":"hello"})");
  EXPECT_EQ(base64UrlEncode(sealed), "AQEBAQEBAQEBAQEBAQEBAQEBAAAAAAAAAQIPtFCPxIBqb5Sw1LFO0bxPybI3GlJ_5TINsa0yjw");
  EXPECT_EQ(Nkey(NkeyKind::User, hostSeed(secret)).seedText(),
            "SUAORB46IGMH2S5C55QGAQNDCG7QCIP2J2UCQCTWFVBKMM63UEPURJKC7I");
}

TEST(BrokerIdentity, KeyTextsWithABrokenChecksumAreRefused) {
  Nkey user(NkeyKind::User, std::array<uint8_t, 32>{1});
  std::string seed = user.seedText(), text = user.publicText();
  EXPECT_EQ(std::pair(isPublicNkey(text, NkeyKind::User), Nkey::fromSeedText(seed)->publicText()),
            std::pair(true, text));
  for (std::string* changed : {&seed, &text}) (*changed)[20] = (*changed)[20] == 'A' ? 'B' : 'A';
  EXPECT_EQ(std::pair(isPublicNkey(text, NkeyKind::User), Nkey::fromSeedText(seed).has_value()),
            std::pair(false, false));
}

TEST(BrokerLink, ReconnectDelayDoublesFromHalfASecondToThirtyWithJitter) {
  const std::tuple<int, double, int> cases[] = {{0, 0, 400},      {0, 1, 600},   {1, 0.5, 1000}, {6, 0.5, 30000},
                                                {40, 0.9, 30000}, {6, 0, 25600}, {-3, 0.5, 500}};
  for (const auto& [failures, jitter, ms] : cases)
    EXPECT_EQ(reconnectDelay(failures, jitter).count(), ms) << failures << " " << jitter;
}

TEST(ServerConfig, AddressesAndDescriptionsAreCheckedBeforeUse) {
  const std::pair<const char*, int> urls[] = {
      {"https://h.example", 443}, {"https://h.example:8443/", 8443}, {"https://[::1]:9", 9}, {"http://h.example", 0},
      {"https://h:0", 0},         {"https://h.example/x", 0},        {"https://u@h", 0},     {"https://h:1x", 0}};
  for (const auto& [url, port] : urls) EXPECT_EQ(parseServerUrl(url) ? parseServerUrl(url)->port : 0, port) << url;

  Endpoint server = *parseServerUrl("https://h.example:8443");
  Nkey account(NkeyKind::Account, std::array<uint8_t, 32>{2});
  nlohmann::json good = {{"version", 1},
                         {"brokers", {"tls://b.example:4222"}},
                         {"account", account.publicText()},
                         {"hostSigner", account.seedText()}};
  std::string error;
  EXPECT_EQ(parseServerConfig(good.dump(), server, error)->page, "https://h.example:8443/");
  Nkey user(NkeyKind::User, std::array<uint8_t, 32>{});
  const std::pair<const char*, nlohmann::json> broken[] = {{"/version", 2},
                                                           {"/brokers", nlohmann::json::array()},
                                                           {"/brokers/0", "wss://b.example/broker"},
                                                           {"/brokers/0", "tls://b.example"},
                                                           {"/account", user.publicText()},
                                                           {"/hostSigner", user.seedText()},
                                                           {"/page", "http://h.example/"},
                                                           {"/page", "https://h/#"}};
  for (const auto& [pointer, value] : broken) {
    auto document = good;
    document[nlohmann::json::json_pointer(pointer)] = value;
    EXPECT_FALSE(parseServerConfig(document.dump(), server, error)) << pointer << " " << value;
  }
  good["page"] = "https://p.example/support";
  EXPECT_EQ(parseServerConfig(good.dump(), server, error)->page, "https://p.example/support/");
}

} // namespace
