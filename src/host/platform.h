#pragma once
// What the host needs from the operating system.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace dravnok::host {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

enum class RuntimeStart { Ok, ComFailed, MediaFoundationFailed };

// COM (multithreaded) and Media Foundation on Windows; nothing elsewhere.
// When Media Foundation fails, COM is already shut down again.
RuntimeStart startPlatformRuntime();
void stopPlatformRuntime();

// Event lines end in a bare line feed on every platform.
void prepareStandardStreams();

// The command-line arguments after the program name, as UTF-8.
std::vector<std::string> commandLineArguments(int argc, char** argv);

// The running program's own path, as UTF-8.
std::string executablePath();

// Opens `path` (UTF-8) for appending, shared for reading and writing.
std::FILE* openSharedForAppend(const std::string& path);

// The process id of the process that started us; 0 when unknown.
uint32_t findParentPid();

} // namespace dravnok::host
