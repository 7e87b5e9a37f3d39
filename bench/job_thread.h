// A thread of the bench's own that runs jobs one at a time, for figures that
// need a message queue other than the main thread's.
#pragma once

#include <windows.h>

#include <functional>

// Windows a job makes belong to this thread, so what is posted to them waits
// in its queue until a job takes it out. While idle, and while the caller
// waits for a job, only messages sent from other threads (activation and the
// like) are handled: a blocked owner would otherwise hang the sender, and
// anything posted stays queued for the jobs.
class JobThread {
 public:
  JobThread();
  ~JobThread();  // lets the thread end; its windows must be gone by then
  // Runs `job` on the thread and returns when it has ended.
  void Run(const std::function<void()>& job);

 private:
  JobThread(const JobThread&);
  JobThread& operator=(const JobThread&);
  static DWORD WINAPI Main(LPVOID self);

  HANDLE thread_;
  HANDLE ready_;  // a job is waiting, or the thread is to end
  HANDLE done_;
  const std::function<void()>* job_;
};
