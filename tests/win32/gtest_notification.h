#pragma once

// GoogleTest 1.12 builds its Notification on std::mutex, which the C++ library of the toolchain's
// Windows thread model lacks. Its own sources get this one, on a Windows event; everything else
// that includes its headers needs only the name.

#ifdef TARNU_GTEST_SOURCES
#include <windows.h>
namespace testing::internal {
class Notification {
  public:
    Notification() : event_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { ::CloseHandle(event_); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    void Notify() { ::SetEvent(event_); }
    void WaitForNotification() { ::WaitForSingleObject(event_, INFINITE); }

  private:
    HANDLE event_;
};
}  // namespace testing::internal
#else
namespace testing::internal {
class Notification;
}  // namespace testing::internal
#endif
