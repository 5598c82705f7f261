#pragma once
// The diagnostic log: event lines for the agent and "remote-helper.log"
// beside the program.
#include <string>

namespace dravnok::host {

// Where the log file lives for a program at `programPath`: beside it, or in
// "." when the path has no folder.
std::string logFilePathFor(const std::string& programPath, char separator);

// Opens the file beside the program (normal mode only) and writes the run's
// header; a file that cannot be opened silently disables file records.
void openLogFile();
void openLogFileAt(const std::string& path);
void closeLogFile();

void logToFile(const std::string& level, const std::string& message);
void logEvent(const std::string& level, const std::string& message);

} // namespace dravnok::host
