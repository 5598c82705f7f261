#include "host/diagnostic_log.h"

#include "common/clock.h"
#include "host/event_writer.h"
#include "host/platform.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <mutex>

namespace dravnok::host {
namespace {

std::mutex logFileMutex;
std::FILE* logFile = nullptr; // guarded by logFileMutex; open for the process's life

std::string timeStamp() {
  TimeOfDay now = localTimeOfDay();
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", now.hour, now.minute, now.second, now.millisecond);
  return text;
}

void writeRecord(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), logFile);
  std::fflush(logFile);
}

} // namespace

std::string logFilePathFor(const std::string& programPath, char separator) {
  auto slash = programPath.find_last_of("\\/");
  std::string folder = slash == std::string::npos ? "." : programPath.substr(0, slash);
  return folder + separator + "remote-helper.log";
}

void openLogFile() { openLogFileAt(logFilePathFor(executablePath(), kPathSeparator)); }

void openLogFileAt(const std::string& path) {
  std::lock_guard lock(logFileMutex);
  if (logFile) return;
  logFile = openSharedForAppend(path);
  if (logFile) writeRecord("\n==== session start " + timeStamp() + " ====\n");
}

void closeLogFile() {
  std::lock_guard lock(logFileMutex);
  if (logFile) std::fclose(logFile);
  logFile = nullptr;
}

void logToFile(const std::string& level, const std::string& message) {
  std::lock_guard lock(logFileMutex);
  if (!logFile) return;
  writeRecord(timeStamp() + " [" + level + "] " + message + "\n");
}

void logEvent(const std::string& level, const std::string& message) {
  // writeEvent releases stdoutMutex before the file's mutex is taken.
  writeEvent({{"evt", "log"}, {"level", level}, {"msg", message}});
  logToFile(level, message);
}

} // namespace dravnok::host
