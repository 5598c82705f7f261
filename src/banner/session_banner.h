#pragma once
// The banner that tells the user a remote session is running.
#include <memory>
#include <string>

namespace dravnok {

class SessionBanner {
public:
  SessionBanner();
  ~SessionBanner();
  SessionBanner(const SessionBanner&) = delete;
  SessionBanner& operator=(const SessionBanner&) = delete;

  // Shows the banner with `text`; a banner already shown keeps its text.
  void show(const std::u16string& text);
  void hide();
  // Ends the banner's thread if it still runs; called once at shutdown.
  void shutdown();

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

} // namespace dravnok
