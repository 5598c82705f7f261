#pragma once
// The always-on-top, click-through notice that tells the person at the
// computer that a remote support session is running. The window lives on a
// thread of its own; show and hide run on their callers' threads.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace dravnok {

class SessionBanner;

// The platform's window side of the banner.
class BannerWindowThread {
public:
  virtual ~BannerWindowThread() = default;
  // The banner thread's body: shows the window with `banner.text()` until
  // wake() is called. When the window cannot be made it calls
  // `banner.windowFailed()` and returns.
  virtual void run(SessionBanner& banner) = 0;
  // Makes run() return; called by hide() after the running flag was cleared,
  // possibly before run() has even started.
  virtual void wake() = 0;
  // Called once the thread that ran run() has been joined.
  virtual void joined() {}
};

// The window implementation of this platform.
std::unique_ptr<BannerWindowThread> makeBannerWindowThread();

class SessionBanner {
public:
  SessionBanner();
  explicit SessionBanner(std::unique_ptr<BannerWindowThread> window);
  ~SessionBanner();
  SessionBanner(const SessionBanner&) = delete;
  SessionBanner& operator=(const SessionBanner&) = delete;

  // Shows the banner with `text`; a banner already shown keeps its text.
  // Throws std::system_error when the thread cannot be created.
  void show(const std::u16string& text);
  // Ends the banner's thread and waits for it. Never call it from the
  // banner thread.
  void hide();
  // hide(), and also joins a thread that ended by itself.
  void shutdown();

  // For the window thread.
  const std::u16string& text() const { return text_; }
  bool running() const { return running_.load(); }
  void windowFailed() { running_.store(false); }
  void setRenderedSize(int width, int height);
  int width() const { return width_.load(); }
  int height() const { return height_.load(); }

private:
  std::unique_ptr<BannerWindowThread> window_;
  // Guards bannerThread_ and text_ against concurrent show/hide calls.
  std::mutex lifecycleMutex_;
  std::thread bannerThread_;
  std::atomic<bool> running_{false};
  std::u16string text_;
  std::atomic<int> width_{0};
  std::atomic<int> height_{0};
};

} // namespace dravnok
