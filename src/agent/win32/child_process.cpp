#include "agent/child_process.h"

#include "common/win32/unique_handle.h"
#include "common/win32/wide.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace dravnok::agent {

struct ChildProcess::Handles {
  UniqueHandle job;
  UniqueHandle process;
  UniqueHandle input;
  UniqueHandle output;
  DWORD id = 0;
};

namespace {

// What a POSIX parent reports for a program ended by SIGKILL, so that both
// agents tell a killed helper the same way.
constexpr UINT kKilledExitCode = 128 + 9;

std::runtime_error systemError(const std::string& what) {
  return std::runtime_error(what + " failed (error " + std::to_string(GetLastError()) + ")");
}

// One argument as the C runtime's command-line parser reads it back.
std::wstring quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

// A pipe whose one end, `childEnd`, the child may inherit; ours stays ours.
void makePipe(UniqueHandle& childEnd, UniqueHandle& ourEnd, bool childReads) {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  if (!CreatePipe(&read, &write, nullptr, 0)) throw systemError("CreatePipe");
  childEnd.reset(childReads ? read : write);
  ourEnd.reset(childReads ? write : read);
  if (!SetHandleInformation(childEnd.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT))
    throw systemError("SetHandleInformation");
}

// The job that ends the child with us: its last handle is ours, and the
// system closes it when we end, however we end.
UniqueHandle makeKillOnCloseJob() {
  UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
  if (!job) throw systemError("CreateJobObject");
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
    throw systemError("SetInformationJobObject");
  return job;
}

// The attribute list that limits inheritance to `handles`.
class InheritedHandles {
public:
  explicit InheritedHandles(std::vector<HANDLE> handles) : handles_(std::move(handles)) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_.resize(size);
    list_ = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (!InitializeProcThreadAttributeList(list_, 1, 0, &size)) throw systemError("InitializeProcThreadAttributeList");
    if (!UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                   handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
      DeleteProcThreadAttributeList(list_);
      throw systemError("UpdateProcThreadAttribute");
    }
  }
  ~InheritedHandles() { DeleteProcThreadAttributeList(list_); }
  InheritedHandles(const InheritedHandles&) = delete;
  InheritedHandles& operator=(const InheritedHandles&) = delete;
  LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

private:
  std::vector<HANDLE> handles_;
  std::vector<unsigned char> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

} // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args)
    : handles_(std::make_unique<Handles>()) {
  UniqueHandle childInput;
  UniqueHandle childOutput;
  makePipe(childInput, handles_->input, true);
  makePipe(childOutput, handles_->output, false);
  // Our standard error, as an inheritable copy (ours stays as it is).
  UniqueHandle childError;
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error && error != INVALID_HANDLE_VALUE) {
    HANDLE copy = nullptr;
    if (DuplicateHandle(GetCurrentProcess(), error, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
      childError.reset(copy);
  }
  std::vector<HANDLE> inherited{childInput.get(), childOutput.get()};
  if (childError) inherited.push_back(childError.get());
  InheritedHandles attributes(inherited);
  handles_->job = makeKillOnCloseJob();

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = childInput.get();
  startup.StartupInfo.hStdOutput = childOutput.get();
  startup.StartupInfo.hStdError = childError.get();
  startup.lpAttributeList = attributes.get();

  std::wstring application = toWide(program);
  std::wstring commandLine = quoted(application);
  for (const auto& arg : args) commandLine += L" " + quoted(toWide(arg));
  PROCESS_INFORMATION started{};
  // Suspended until it is in the job; without a console of its own, so that
  // Ctrl+C in ours reaches us, and we end the session in order.
  if (!CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                      CREATE_SUSPENDED | CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT | CREATE_UNICODE_ENVIRONMENT,
                      nullptr, nullptr, &startup.StartupInfo, &started))
    throw systemError("cannot start " + program + ": CreateProcess");
  handles_->process.reset(started.hProcess);
  UniqueHandle thread(started.hThread);
  handles_->id = started.dwProcessId;
  if (!AssignProcessToJobObject(handles_->job.get(), started.hProcess)) {
    auto failure = systemError("AssignProcessToJobObject");
    TerminateProcess(started.hProcess, kKilledExitCode);
    throw failure;
  }
  ResumeThread(thread.get());
}

ChildProcess::~ChildProcess() = default;

uint32_t ChildProcess::id() const { return handles_->id; }

bool ChildProcess::write(std::string_view data) {
  while (!data.empty()) {
    if (!handles_->input) return false;
    DWORD written = 0;
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size(), 1 << 20));
    if (!WriteFile(handles_->input.get(), data.data(), chunk, &written, nullptr) || written == 0) return false;
    data.remove_prefix(written);
  }
  return true;
}

void ChildProcess::closeInput() { handles_->input.reset(); }

size_t ChildProcess::read(std::span<char> buffer) {
  DWORD wanted = static_cast<DWORD>(std::min<size_t>(buffer.size(), 1 << 20));
  for (;;) {
    DWORD got = 0;
    // The pipe breaks once every writer has gone; an empty write reads as
    // nothing, not as the end.
    if (!ReadFile(handles_->output.get(), buffer.data(), wanted, &got, nullptr)) return 0;
    if (got > 0) return got;
  }
}

void ChildProcess::waitUntilExited() { WaitForSingleObject(handles_->process.get(), INFINITE); }

int ChildProcess::reap() {
  DWORD code = 0;
  if (!GetExitCodeProcess(handles_->process.get(), &code)) return -1;
  return static_cast<int>(code);
}

void ChildProcess::kill() { TerminateProcess(handles_->process.get(), kKilledExitCode); }

} // namespace dravnok::agent
