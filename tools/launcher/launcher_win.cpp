// Test tool: `launcher.exe PROGRAM [ARGS...]` starts PROGRAM in its own folder, waits for it and
// exits with its exit code. Tests copy it under other names (explorer.exe) to give a process a
// parent of a chosen name, so it must stay alive as long as the child runs.
#include <windows.h>

#include <string>

#include "../../platform/handles_win.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kLaunchError = 3;

const char* skip_blanks(const char* p) {
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

// Skips one argument, quoted or not, the way the C runtime splits a command line at blanks.
const char* skip_argument(const char* p) {
  bool quoted = false;
  for (; *p != '\0'; ++p) {
    if (*p == '"') quoted = !quoted;
    if (!quoted && (*p == ' ' || *p == '\t')) break;
  }
  return p;
}

// The argument without its quotes.
std::string unquoted(const char* begin, const char* end) {
  std::string text;
  for (const char* p = begin; p != end; ++p) {
    if (*p != '"') text += *p;
  }
  return text;
}

// Full path of the program and its folder; the folder is empty for a bare name, which then
// runs in this tool's own current directory.
struct Target {
  std::string path;
  std::string folder;
};

Target resolve(const std::string& program) {
  if (program.find_first_of("\\/:") == std::string::npos) return {program, {}};
  char full[MAX_PATH * 2];
  char* file_part = nullptr;
  const DWORD length = ::GetFullPathNameA(program.c_str(), sizeof full, full, &file_part);
  if (length == 0 || length >= sizeof full || file_part == nullptr) return {program, {}};
  return {full, std::string(full, file_part)};
}

int run(const char* command_line) {
  const char* program_begin = skip_blanks(skip_argument(skip_blanks(command_line)));
  const char* program_end = skip_argument(program_begin);
  if (program_begin == program_end) return kUsageError;
  const Target target = resolve(unquoted(program_begin, program_end));
  std::string child_line = "\"" + target.path + "\"" + program_end;

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION created{};
  if (!::CreateProcessA(nullptr, child_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        target.folder.empty() ? nullptr : target.folder.c_str(), &startup,
                        &created)) {
    return kLaunchError;
  }
  const win::unique_handle process(created.hProcess);
  const win::unique_handle thread(created.hThread);
  ::WaitForSingleObject(process.get(), INFINITE);
  DWORD exit_code = kLaunchError;
  ::GetExitCodeProcess(process.get(), &exit_code);
  return static_cast<int>(exit_code);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return run(::GetCommandLineA()); }
