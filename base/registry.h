// Registry access by root key, key path and value name, always in the 64-bit view; textual
// registry paths; and the watcher that reports changes of a key on the main thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/handle.h"

namespace nimbrel {

// Static registry operations. Each opens its key for the call alone. A key path may begin with
// "\" (the same as none); the empty value name is the key's default value; a nullptr root key
// makes every operation fail. No operation raises: a failure gives the result named below.
// Callable from any thread.
class TReg {
 public:
  TReg() = delete;

  // Whether the key can be opened for reading.
  static bool IsKey(HKEY RootKey, const std::wstring& Key);
  // The data of a REG_BINARY value (or of a type that is neither text nor number). A text or
  // number value gives as many zero bytes as its data holds. Empty when missing or unreadable.
  static std::vector<uint8_t> ReadBinary(HKEY RootKey, const std::wstring& Key, const std::wstring& Name);
  // ReadInteger(...) != 0; Value when the number cannot be read.
  static bool ReadBool(HKEY RootKey, const std::wstring& Key, const std::wstring& Name, bool Value);
  // A REG_DWORD (or REG_DWORD_BIG_ENDIAN, bytes as stored) value; Value when missing or of another type.
  static int32_t ReadInteger(HKEY RootKey, const std::wstring& Key, const std::wstring& Name, int32_t Value);
  // A REG_SZ or REG_EXPAND_SZ value up to its first NUL, not expanded. Value when the key cannot
  // be opened; the empty text when the key opens but the value is missing, empty or of another type.
  static std::wstring ReadString(HKEY RootKey, const std::wstring& Key, const std::wstring& Name,
                                 const std::wstring& Value);
  // Replace the list with the direct subkeys (values) in enumeration order and return its size;
  // 0 with the list empty when the key cannot be read.
  static int ReadKeyNames(HKEY RootKey, const std::wstring& Key, std::vector<std::wstring>& KeyNames);
  static int ReadValueNames(HKEY RootKey, const std::wstring& Key, std::vector<std::wstring>& ValueNames);

  // Writes and deletes create a missing key on the way (except an empty key path: the root).
  static void WriteBinary(HKEY RootKey, const std::wstring& Key, const std::wstring& Name,
                          const std::vector<uint8_t>& Value);
  static void WriteInteger(HKEY RootKey, const std::wstring& Key, const std::wstring& Name, int32_t Value);
  // REG_SZ, stored with its terminating NUL.
  static void WriteString(HKEY RootKey, const std::wstring& Key, const std::wstring& Name,
                          const std::wstring& Value);
  // Deletes the subkey Name of Key with everything below it. An empty Name deletes nothing.
  static void DeleteKey(HKEY RootKey, const std::wstring& Key, const std::wstring& Name);
  static void DeleteValue(HKEY RootKey, const std::wstring& Key, const std::wstring& Name);

  // Splits "ROOT\key\path\last" into root (nullptr for an unknown root name), key path and last
  // part. False, with nullptr and both texts empty, for fewer than three parts. The last part
  // never holds "\", while a value name may: where the key path is known, keep the two apart
  // instead of joining them into one text.
  static bool Parse(const std::wstring& Text, HKEY& RootKey, std::wstring& Key, std::wstring& Name);
  // Deletes the key, or else the value, that a textual path names. A text ending in "\" (an
  // empty last part) deletes nothing.
  static void Delete(const std::wstring& Text);
};

// "HKCU" (Short) or "HKEY_CURRENT_USER" and so on; the three roots without a short name always
// give the long one. Empty for any other value.
std::wstring RootKeyToName(HKEY RootKey, bool Short);
// The root of a long or short name, ASCII case ignored; nullptr for any other text.
HKEY NameToRootKey(const std::wstring& Text);

// Opens a key for reading in the 64-bit view (KEY_READ, else query and enumerate rights, else
// query only). Empty when it cannot be opened.
TOwnedKey OpenRegistryKey(HKEY RootKey, const std::wstring& Key);

// Reads on a key the caller keeps open. A missing value or one of another type gives Default.
bool ReadBoolDef(HKEY Key, const std::wstring& Name, bool Default);
int32_t ReadIntegerDef(HKEY Key, const std::wstring& Name, int32_t Default);
// REG_SZ / REG_EXPAND_SZ give their text, REG_DWORD its signed decimal number.
std::wstring ReadStringDef(HKEY Key, const std::wstring& Name, const std::wstring& Default);

// A thread that watches one key (and its subtree when asked) and calls back on the main thread
// after each change; changes that come while it waits or calls back are reported as one call.
// It ends at once when the key cannot be opened. Destroying it stops it and waits for its end
// (serving hand-overs when on the main thread); a callback that has not started when Terminate
// is called on the main thread does not run. Proc must not destroy its own watcher.
class TRegistryWatcher {
 public:
  TRegistryWatcher(HKEY RootKey, std::wstring Key, std::function<void()> Proc, bool WatchSub);
  ~TRegistryWatcher();
  TRegistryWatcher(const TRegistryWatcher&) = delete;
  TRegistryWatcher& operator=(const TRegistryWatcher&) = delete;

  // Asks the thread to end; returns at once. Any thread; harmless when it has ended.
  void Terminate();
  // Waits up to Milliseconds for the thread's end; true when it has ended.
  bool WaitFor(unsigned long Milliseconds = INFINITE);
  // Waits up to Milliseconds until the key is watched (changes from then on are reported) or the
  // thread has ended without watching it; true when either has happened.
  bool WaitArmed(unsigned long Milliseconds);

 private:
  static DWORD WINAPI Run(void* Self);
  void Execute();

  HKEY FRootKey;
  std::wstring FKey;
  std::function<void()> FProc;
  bool FWatchSub;
  std::atomic<bool> FTerminated{false};
  TOwnedHandle FStop;
  TOwnedHandle FArmed;  // set once the first notification is armed, or when the thread gives up
  TOwnedHandle FThread;
};

// Starts a watcher; see TRegistryWatcher.
std::unique_ptr<TRegistryWatcher> RegistryMonitor(HKEY RootKey, const std::wstring& Key,
                                                  std::function<void()> Proc, bool WatchSub);

}  // namespace nimbrel
