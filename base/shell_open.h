// Opening web addresses and starting user-registered commands at the user's normal level.
//
// Nimbrel runs elevated; whatever it starts directly runs as administrator too. A browser or a
// command registered by an unelevated program is therefore handed to the desktop shell's own
// process (Explorer, running at the user's level), which starts it. Where no desktop shell
// answers, or the shell runs under another account than Nimbrel (elevation with another
// administrator's password), there is no user level to reach and the program starts it itself.
#pragma once

#include <string>
#include <string_view>

namespace nimbrel {

// True for an address beginning with "http://" or "https://" (any letter case) with something
// after it and no control character in it.
bool IsWebAddress(std::wstring_view Target) noexcept;

// Opens a web address in the user's browser at the user's level (ShellExecuteAsUser, else the
// shell's "open"). Anything that is not IsWebAddress (documents, folders, other schemes,
// commands) is not opened. Failures are not reported. Returns at once: the addresses are opened
// one after the other, in the order asked, by one opener thread (COM's single-threaded
// apartment), so no message of the caller's thread runs meanwhile; only when no thread can be
// made does the caller open them itself. Any thread.
void ShellOpen(const std::wstring& Target);

// Waits up to Milliseconds for the opens ShellOpen has waiting or under way; true when none is
// left. Program end, before the process ends (which would cut an open short).
bool WaitForShellOpens(unsigned long Milliseconds);
inline constexpr unsigned long ShellOpenExitWaitMilliseconds = 5000;

// Starts File with Parameters through the desktop shell's process (IShellDispatch2::ShellExecute)
// with the verb "open". True when the shell took the request (no process handle comes back);
// false when no desktop shell answers, it runs under another account, or the call fails: the
// caller then starts the command itself. A thread with COM initialised.
bool ShellExecuteAsUser(const std::wstring& File, const std::wstring& Parameters);

// Whether the process owning the desktop shell's window runs under the same user account as
// this process. False when there is no shell window or either account cannot be read.
bool DesktopShellIsSameAccount() noexcept;

}  // namespace nimbrel
