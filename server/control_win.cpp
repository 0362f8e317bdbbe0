#include "server/control_win.h"

#include <string>
#include <utility>

#include "platform/handles_win.h"
#include "platform/message_pump_win.h"
#include "server/console_ctrl_win.h"
#include "server/graceful_stop.h"
#include "server/port_owner_win.h"
#include "server/process_win.h"
#include "tray/notify_record.h"

namespace server {
namespace {

constexpr char kInfoCaption[] = "信息：";
constexpr char kNoServer[] = "Rivermesh 进程似乎不存在！";
// The server counts as started when it exists this long after the launch script was typed.
constexpr DWORD kStartCheckMs = 500;
constexpr DWORD kStopWaitMs = 2000;

class BusyScope {
 public:
  explicit BusyScope(bool& busy) : busy_(busy) { busy_ = true; }
  ~BusyScope() { busy_ = false; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  bool& busy_;
};

// Terminates the server and, when it ran there, the shell this program started. Any other parent
// (the desktop shell, a prompt of the user's) is left alone.
void end_server_and_shell(DWORD server_id, DWORD own_shell_id) {
  const long parent = proc::parent_of(std::to_string(server_id));
  if (proc::ends_parent(parent, own_shell_id)) proc::terminate(static_cast<DWORD>(parent));
  proc::terminate(server_id);
}

}  // namespace

void Control::start_request() {
  if (busy_ || ending_) return;
  const launch::Fields fields = view_.fields();
  if (const auto problem = launch::first_problem(fields)) {
    view_.message(*problem, launch::kErrorCaption, true);
    return;
  }
  const std::optional<std::string> script = launch::script_path(view_.server_folder());
  if (!script) {
    view_.message(launch::kEmptyFolder, launch::kErrorCaption, false);
    return;
  }
  // The server would only fail on a port another program listens on: name that program.
  if (const auto held = port_owner::held_port_message(fields.port, fields.ip)) {
    view_.message(*held, launch::kErrorCaption, true);
    return;
  }
  if (!write_script(*script, fields)) {
    view_.message(launch::kScriptFailed, launch::kErrorCaption, true);
    return;
  }
  start_sequence();
}

bool Control::write_script(const std::string& path, const launch::Fields& fields) const {
  const std::string line = launch::command_line(fields);
  const win::unique_file file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return ::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
         written == line.size();
}

void Control::start_sequence() {
  const BusyScope busy(busy_);
  const std::string folder = view_.server_folder();
  console_.log_next_start(view_.fields());  // server log: the header of this launch
  const bool launched = console_.launch(folder, view_.window(), output_message_);
  if (ending_) return;
  if (launched) launched_server_ = folder + launch::kServerExe;
  // Lines typed into an earlier launch's shell would run there: without a new shell, none are.
  bool script_typed = !launched;
  if (launched) {
    view_.clear_log();
    console_.write_line("echo off");
  }
  // A shell that reads its input in blocks runs only the first line of a block, so the script
  // is typed once the first line has been taken.
  pump::wait(kStartCheckMs, nullptr, [&] {
    if (!script_typed && console_.input_taken()) {
      console_.write_line(launch::kScriptName);
      script_typed = true;
    }
    return false;
  });
  if (ending_) return;
  if (!script_typed) console_.write_line(launch::kScriptName);

  const DWORD server_id = proc::find_by_path(server_path());
  if (server_id == 0) {
    view_.balloon(presentation::kStartFailedTitle, presentation::kCheckSettingsText,
                  tray::kBalloonError, {});
    return;
  }
  view_.apply(presentation::kRunning);
  watch(server_id);
  const launch::Fields now = view_.fields();
  view_.balloon(presentation::kStartedTitle, presentation::started_text(now.ip, now.port),
                tray::kBalloonNone, presentation::access_url(now.ip, now.port));
  view_.tooltip(presentation::running_tooltip(now.ip, now.port));
}

void Control::stop_request() {
  if (busy_ || ending_) return;
  const BusyScope busy(busy_);
  // The server's end is the stop's own doing, not news.
  watch_.cancel();
  const DWORD server_id = proc::find_by_path(server_path());
  if (server_id != 0) {
    const win::unique_handle server(::OpenProcess(SYNCHRONIZE, FALSE, server_id));
    const DWORD shell = console_.shell_id();
    if (ask_to_end(server_id, shell, graceful::kStopGraceMs)) {
      // Whatever the shell makes of its interrupted script, it ends as it always has.
      if (!ending_) proc::terminate(shell);
    } else if (!ending_) {
      end_server_and_shell(server_id, shell);
    }
    if (ending_) return;
    // A termination may be refused (another user's server): say so instead of "stopped".
    const bool ended = server ? pump::wait(kStopWaitMs, server.get())
                              : pump::wait(
                                    kStopWaitMs, nullptr,
                                    [server_id] {
                                      return !proc::id_has_name(proc::process_list(), server_id,
                                                                launch::kServerExe);
                                    },
                                    100);
    if (!ended) {
      if (ending_) return;
      if (view_.running_shown()) watch(server_id);
      view_.balloon(presentation::kStopFailedTitle, presentation::kStillRunningText,
                    tray::kBalloonError, {});
      return;
    }
    if (ending_) return;
  } else {
    view_.message(kNoServer, kInfoCaption, true);
  }
  console_.log_end(server_log::End::stop());  // server log: end of the run
  view_.apply(presentation::kNotRunning);
  view_.balloon(presentation::kStoppedTitle, presentation::kStoppedText, tray::kBalloonNone, {});
  view_.tooltip(presentation::kIdleTooltip);
}

bool Control::ask_to_end(DWORD server_id, DWORD shell_id, DWORD grace_ms) {
  // Once asked, the server is only waited for: a second Ctrl+C could cut short the clean end the
  // first one began, and the shell may have ended on the first already.
  if (!asking_ && !graceful::under_our_shell(proc::process_list(), server_id, shell_id)) {
    return false;
  }
  const win::unique_handle server(::OpenProcess(SYNCHRONIZE, FALSE, server_id));
  if (!server) return false;
  if (!asking_ && !console::send_ctrl_c(shell_id)) return false;
  const bool was_asking = std::exchange(asking_, true);
  const bool ended = pump::wait(grace_ms, server.get());
  asking_ = was_asking;
  return ended;
}

void Control::let_server_end(DWORD grace_ms) {
  ending_ = true;
  watch_.cancel();
  if (const DWORD server_id = proc::find_by_path(server_path())) {
    ask_to_end(server_id, console_.shell_id(), grace_ms);
  }
}

void Control::shutdown_kill() {
  ending_ = true;
  watch_.cancel();
  if (const DWORD server_id = proc::find_by_path(server_path())) {
    end_server_and_shell(server_id, console_.shell_id());
  }
  // Our own shell ends with a code of its own, whether or not it still ran the server.
  constexpr UINT kShellExitCode = 3389;
  console_.release(kShellExitCode);
  console_.log_end(server_log::End::program_exit());  // server log: end of the run, written out
}

void Control::watch(DWORD server_id) {
  watch_.watch(server_id, launch::kServerExe, view_.window(), ended_message_);
}

std::string Control::server_path() const {
  if (!launched_server_.empty()) return launched_server_;
  const std::string folder = view_.server_folder();
  return folder.empty() ? std::string() : folder + launch::kServerExe;
}

void Control::server_ended(WPARAM notice) {
  if (!watch_.current(notice) || busy_ || ending_) return;
  console_.log_end(server_log::End::exit_code(watch_.exit_code()));  // server log: end of the run
  watch_.cancel();
  if (!view_.running_shown()) return;
  // Another run of the same server file (started by hand, say) keeps the look true.
  if (const DWORD other = proc::find_by_path(server_path())) {
    watch(other);
    return;
  }
  view_.apply(presentation::kNotRunning);
  view_.tooltip(presentation::kIdleTooltip);
  view_.balloon(presentation::kEndedTitle, presentation::kCheckSettingsText, tray::kBalloonError,
                {});
}

std::string Control::take_output(WPARAM notice) {
  console::Inbox* inbox = console_.inbox();
  if (inbox == nullptr || reinterpret_cast<WPARAM>(inbox) != notice) return {};
  return inbox->take_all();
}

std::string Control::take_output() {
  console::Inbox* inbox = console_.inbox();
  return inbox ? inbox->take_all() : std::string();
}

}  // namespace server
