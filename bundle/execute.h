// Starting a program through the shell, optionally with a callback on the main thread once it
// has ended; and the uninstall start that keeps user-registered commands at the user's level.
#pragma once

#include <functional>
#include <string>

namespace nimbrel {

// Runs on the main thread after the started program has ended, or at once on the calling thread
// when no process came back. May be empty.
using TExecuteProc = std::function<void()>;

// Starts File with Parameters through the shell's "Open" verb (no owner window, no working
// folder) with the show command Show. A file that cannot be started is reported by the shell's
// own message box, which this call waits for. When a new process came back, a waiting thread of
// its own (it frees itself) waits for its end without a time limit and then runs Proc on the main
// thread through the hand-over, waiting until Proc has returned (an exception of Proc goes to the
// application's error handler); otherwise Proc runs at once on the calling thread. A thread with
// COM initialised.
void Execute(const std::wstring& File, const std::wstring& Parameters, int Show, TExecuteProc Proc = nullptr);

// The command line split with SplitCommandLine into program and parameters, then started as above.
void Execute(const std::wstring& CommandLine, int Show, TExecuteProc Proc = nullptr);

// Starts a program at the user's level through the desktop shell; false when it could not.
using TShellAsUser = std::function<bool(const std::wstring& File, const std::wstring& Parameters)>;

// Starts an uninstall command. A command registered under HKEY_CURRENT_USER (FromCurrentUser),
// which any unelevated program can write, is first handed to AsUser (ShellExecuteAsUser by
// default); when that takes it, no process comes back and Proc runs at once. Every other command,
// and one that AsUser could not start, goes to Execute.
void ExecuteUninstall(const std::wstring& CommandLine, bool FromCurrentUser, int Show, TExecuteProc Proc = nullptr);
void ExecuteUninstall(const std::wstring& CommandLine, bool FromCurrentUser, int Show, TExecuteProc Proc,
                      const TShellAsUser& AsUser);

}  // namespace nimbrel
