// GoogleTest under mingw-w64's win32-threads runtime, which has no
// std::mutex or std::condition_variable: its Notification (used only by
// GoogleTest's own threading tests) is a manual-reset Win32 event here.
#pragma once
#include <windows.h>

namespace testing
{
namespace internal
{
class Notification
{
  public:
    Notification() : m_hEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
    }
    ~Notification()
    {
        CloseHandle(m_hEvent);
    }
    Notification(const Notification &) = delete;
    Notification &operator=(const Notification &) = delete;
    void Notify()
    {
        SetEvent(m_hEvent);
    }
    void WaitForNotification()
    {
        WaitForSingleObject(m_hEvent, INFINITE);
    }

  private:
    HANDLE m_hEvent;
};
} // namespace internal
} // namespace testing
