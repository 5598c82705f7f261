#include "rtc/candidate.hpp"

#include "sdp_text.hpp"

namespace rtc {

Candidate::Candidate() = default;

Candidate::Candidate(string candidate) : Candidate(std::move(candidate), "") {}

Candidate::Candidate(string candidate, string mid) : candidate_(std::move(candidate)), mid_(std::move(mid)) {
  while (!candidate_.empty() && (candidate_.back() == '\r' || candidate_.back() == '\n')) candidate_.pop_back();
  if (candidate_.rfind("a=", 0) == 0) candidate_.erase(0, 2);
  parse();
}

// candidate:<foundation> <component> <transport> <priority> <address> <port> typ <type> ...
void Candidate::parse() {
  if (candidate_.rfind("candidate:", 0) != 0) return;
  auto words = impl::splitWords(std::string_view(candidate_).substr(10));
  if (words.size() < 8 || words[6] != "typ") return;
  auto component = impl::parseUnsigned(words[1]);
  auto priority = impl::parseUnsigned(words[3]);
  auto port = impl::parseUnsigned(words[5]);
  if (!component || !priority || !port || *port > 65535 || *priority > 0xffffffffu || *component > 256) return;
  foundation_ = words[0];
  component_ = static_cast<uint32_t>(*component);
  transport_ = impl::toLower(words[2]);
  priority_ = static_cast<uint32_t>(*priority);
  address_ = words[4];
  port_ = static_cast<uint16_t>(*port);
  type_ = words[7];
  parsed_ = true;
}

string Candidate::candidate() const { return candidate_; }
string Candidate::mid() const { return mid_; }
Candidate::operator string() const { return "a=" + candidate_; }
bool Candidate::isEndOfCandidates() const { return candidate_ == "end-of-candidates"; }
string Candidate::foundation() const { return foundation_; }
uint32_t Candidate::component() const { return component_; }
string Candidate::transport() const { return transport_; }
uint32_t Candidate::priority() const { return priority_; }
string Candidate::address() const { return address_; }
uint16_t Candidate::port() const { return port_; }
string Candidate::type() const { return type_; }
bool Candidate::parsed() const { return parsed_; }

} // namespace rtc
