// remote-helper: one live support session, driven by the agent over
// standard input and output, or one test option run by hand.
#include "banner/session_banner.h"
#include "host/command_line.h"
#include "host/control_loop.h"
#include "host/diagnostic_log.h"
#include "host/host_callbacks.h"
#include "host/library_log_bridge.h"
#include "host/platform.h"
#include "session/remote_session.h"

#include <iostream>
#include <memory>

using namespace dravnok;
using namespace dravnok::host;

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  prepareStandardStreams();
  switch (startPlatformRuntime()) {
  case RuntimeStart::ComFailed:
    logEvent("error", "CoInitializeEx failed");
    return 1;
  case RuntimeStart::MediaFoundationFailed:
    logEvent("error", "MFStartup failed");
    return 1;
  case RuntimeStart::Ok:
    break;
  }

  std::vector<std::string> args = commandLineArguments(argc, argv);
  ModeChoice choice = chooseMode(args);
  if (choice.mode != Mode::Normal) {
    int code = runTestMode(choice);
    stopPlatformRuntime();
    return code;
  }

  openLogFile();
  logToFile("info", "helper started (pid running a live session)");
  installLibraryLogBridge();

  HostState state;
  SessionBanner banner;
  auto callbacks = std::make_unique<HostCallbacks>(makeHostCallbacks(state, banner));
  auto session = std::make_unique<RemoteSession>(*callbacks);
  state.parentPid = findParentPid();

  runControlLoop(std::cin, *session, state);

  session->stop();
  stopPlatformRuntime();
  session.reset();
  callbacks.reset();
  banner.shutdown();
  return 0;
}
