// Starting a program through the shell, optionally with a callback on the main thread once it
// has ended; and the uninstall start that keeps user-registered commands at the user's level.
// Nimbrel runs as administrator: a program named without a folder is taken from System32 or the
// Windows folder only, never from the program's own folder or the current one (both usually
// Downloads, where anything may have been planted).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace nimbrel {

// Runs on the main thread after the started program has ended, or at once on the calling thread
// when no process came back. May be empty.
using TExecuteProc = std::function<void()>;

// The file that a command's program part Program starts:
// - a full path ("C:\..." or a network path "\\server\...") as it stands;
// - a bare file name from the first of Folders where Exists finds it, with ".exe" added when the
//   name has no extension ("cmd" is "cmd.exe");
// - empty (not to be started) for a name found in none of them, and for every other relative
//   path ("sub\x.exe", ".\x.exe", "..\x.exe", "\x.exe", "C:x.exe"): each would be looked up
//   from the current folder.
std::wstring ResolveProgram(const std::wstring& Program, const std::vector<std::wstring>& Folders,
                            const std::function<bool(const std::wstring& File)>& Exists);
// The same after environment variables ("%SystemRoot%") are expanded, with the folders System32
// and then the Windows folder, and the files that exist there.
std::wstring ResolveProgram(const std::wstring& Program);

// Starts File with Parameters through the shell's "Open" verb (no owner window, no working
// folder) with the show command Show. File goes through ResolveProgram first; one that it
// refuses is not started, the user is told so in a message box of their language (owned by the
// active window), and Proc runs at once. A file that cannot be started is reported by the shell's
// own message box. This call waits for either box. When a new process came back, a waiting
// thread of its own (it frees itself) waits for its end without a time limit and then runs Proc
// on the main thread through the hand-over, waiting until Proc has returned (an exception of Proc
// goes to the application's error handler); otherwise Proc runs at once on the calling thread.
// The main thread; its COM apartment starts here when it has none yet. When the shell cannot be
// called (shell32 or its function not found), the user is told so in a message box and Proc runs
// at once.
void Execute(const std::wstring& File, const std::wstring& Parameters, int Show, TExecuteProc Proc = nullptr);

// The command line split with SplitCommandLine into program and parameters, then started as above.
void Execute(const std::wstring& CommandLine, int Show, TExecuteProc Proc = nullptr);

// Starts a program at the user's level through the desktop shell; false when it could not.
using TShellAsUser = std::function<bool(const std::wstring& File, const std::wstring& Parameters)>;

// Starts an uninstall command. A command registered under HKEY_CURRENT_USER (FromCurrentUser),
// which any unelevated program can write, is first handed to AsUser (ShellExecuteAsUser by
// default); when that takes it, no process comes back and Proc runs at once. Every other command,
// and one that AsUser could not start, goes to Execute. Either way the program part is resolved
// first, as Execute does: AsUser is handed the full path, and a refused program goes nowhere.
void ExecuteUninstall(const std::wstring& CommandLine, bool FromCurrentUser, int Show, TExecuteProc Proc = nullptr);
void ExecuteUninstall(const std::wstring& CommandLine, bool FromCurrentUser, int Show, TExecuteProc Proc,
                      const TShellAsUser& AsUser);

}  // namespace nimbrel
