#include "agent/child_process.h"
#include "common/win32/unique_handle.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

using namespace dravnok;
using namespace dravnok::agent;

// The helper gets its pipes and nothing else of the agent's, even handles
// made inheritable, and it ends with the agent: its job closes with our
// last handle to it.
TEST(ChildProcess, InheritsOnlyItsPipesAndEndsWithItsJob) {
  const auto record =
      std::filesystem::temp_directory_path() / ("dravnok-child-" + std::to_string(GetCurrentProcessId()));
  std::filesystem::remove(record.string() + ".inherited");
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  UniqueHandle event(CreateEventW(&inheritable, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event);
  SetEnvironmentVariableW(L"FAKE_HELPER_RECORD", record.wstring().c_str());
  SetEnvironmentVariableW(L"FAKE_HELPER_IGNORE_STOP", L"1");
  SetEnvironmentVariableW(L"FAKE_HELPER_PROBE_HANDLE",
                          std::to_wstring(reinterpret_cast<uintptr_t>(event.get())).c_str());

  UniqueHandle process;
  {
    ChildProcess child(FAKE_HELPER_PATH, {});
    process.reset(OpenProcess(SYNCHRONIZE, FALSE, child.id()));
    ASSERT_TRUE(process);
    std::string inherited;
    for (int i = 0; i < 200 && !inherited.ends_with("\n"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      std::ostringstream text;
      text << std::ifstream(record.string() + ".inherited").rdbuf();
      inherited = text.str();
    }
    EXPECT_EQ(inherited, "sockets 0 handle closed\n");
    EXPECT_EQ(WaitForSingleObject(process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  }
  EXPECT_EQ(WaitForSingleObject(process.get(), 10000), WAIT_OBJECT_0) << "the helper outlived its job";
  std::filesystem::remove(record);
  std::filesystem::remove(record.string() + ".inherited");
}
