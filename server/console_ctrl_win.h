// Ctrl+C for the processes on the console of our hidden shell, as a user's key press in that
// console would give it.
#pragma once

#include <windows.h>

namespace console {

// Makes the program ready for a new shell to be started: see graceful::before_shell.
void before_shell();

// Delivers CTRL_C_EVENT to every process on the console of shell_id: the shell and the server
// it runs, or, for a server taken over, whatever shares that server's console. The program itself
// ignores it. False when it could not be delivered.
bool send_ctrl_c(DWORD shell_id);

}  // namespace console
