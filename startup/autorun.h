// The machine's autostart entries: collecting them from every source and switching one off or
// on the way Windows itself records it. Any thread; the Task Scheduler connection is shared
// under TaskServiceLock (startup/task_scheduler.h).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace nimbrel {

// One autostart entry. (From, Target) identifies it; From is "FILE", "HKLM", "HKCU", "SCHE" or
// "SERV".
struct TAutorunInfo {
  std::wstring FileName, Caption, RawData, Target, From;
  bool Enabled = false;
};
using TAutorunList = std::vector<TAutorunInfo>;   // collection order, never sorted

// Replaces List with every entry of the machine: both startup folders, the three Run keys, the
// root folder's scheduled tasks, all Win32 services, in that order. A source that cannot be read
// adds nothing; nothing is reported.
void CollectAutorun(TAutorunList& List);
// Whether the StartupApproved value Name of Key says "on": false only for a 12-byte value whose
// first byte has its lowest bit set; a missing, empty or other-sized value is on.
bool ReadStartupApproved(HKEY RootKey, const std::wstring& Key, const std::wstring& Name);
// The StartupApproved value that records the switch: 02 (on) or 03 (off), three zero bytes, the
// current UTC time as a little-endian FILETIME.
std::vector<uint8_t> MakeStartupApproved(bool Enable);   // 12 bytes
// Switches the entry (From, Target) on or off. Reports nothing, except that before Windows 10 a
// startup file that cannot be deleted throws std::runtime_error with the system's message.
void SwitchAutorun(const std::wstring& Target, const std::wstring& From, bool Enable);

}  // namespace nimbrel
