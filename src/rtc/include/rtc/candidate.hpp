#pragma once
#include "rtc/common.hpp"

namespace rtc {

// One ICE candidate line ("candidate:..." with or without "a=") and the media
// id of the section it belongs to.
class Candidate {
public:
  Candidate();
  Candidate(string candidate);
  Candidate(string candidate, string mid);

  // The line without "a=", as browsers expect it in RTCIceCandidate.
  string candidate() const;
  string mid() const;
  operator string() const;

  bool isEndOfCandidates() const;
  // Parsed fields of the line; empty or zero when the line does not parse.
  string foundation() const;
  uint32_t component() const;
  string transport() const;
  uint32_t priority() const;
  string address() const;
  uint16_t port() const;
  string type() const;
  bool parsed() const;

private:
  void parse();

  string candidate_;
  string mid_;
  string foundation_;
  uint32_t component_ = 0;
  string transport_;
  uint32_t priority_ = 0;
  string address_;
  uint16_t port_ = 0;
  string type_;
  bool parsed_ = false;
};

} // namespace rtc
