#include "base/handle.h"

#include <gtest/gtest.h>

namespace nimbrel {
namespace {

bool IsOpen(HANDLE Handle) {
  DWORD Flags = 0;
  return ::GetHandleInformation(Handle, &Flags) != FALSE;
}

TEST(OwnedHandle, ClosesOnScopeEndAndReset) {
  HANDLE Raw = nullptr;
  {
    TOwnedHandle Event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(Event);
    Raw = Event.get();
    EXPECT_TRUE(IsOpen(Raw));
  }
  EXPECT_FALSE(IsOpen(Raw));

  TOwnedHandle Event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  Raw = Event.get();
  Event.reset();
  EXPECT_FALSE(Event);
  EXPECT_FALSE(IsOpen(Raw));
}

TEST(OwnedHandle, BothInvalidValuesCountAsEmpty) {
  EXPECT_FALSE(TOwnedHandle());
  TOwnedHandle Invalid(INVALID_HANDLE_VALUE);
  EXPECT_FALSE(Invalid);  // and its destructor must not close anything
}

TEST(OwnedHandle, MoveHandsOverReleaseGivesUp) {
  TOwnedHandle First(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  HANDLE Raw = First.get();
  TOwnedHandle Second(std::move(First));
  EXPECT_FALSE(First);
  EXPECT_EQ(Second.get(), Raw);

  TOwnedHandle Third;
  Third = std::move(Second);
  EXPECT_EQ(Third.get(), Raw);
  EXPECT_TRUE(IsOpen(Raw));

  HANDLE Released = Third.release();
  EXPECT_FALSE(Third);
  EXPECT_TRUE(IsOpen(Released));
  ::CloseHandle(Released);
}

TEST(OwnedKey, PutFillsAnOutParameter) {
  TOwnedKey Key;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, Key.put()), ERROR_SUCCESS);
  EXPECT_TRUE(Key);
}

static_assert(!std::is_copy_constructible_v<TOwnedHandle>);
static_assert(!std::is_copy_assignable_v<TOwnedKey>);
static_assert(std::is_nothrow_move_constructible_v<TOwnedIcon>);

}  // namespace
}  // namespace nimbrel
