#include "bench/job_thread.h"

#include "bench/bench_report.h"

namespace {

// Waits for `event`, handling in the meantime only sent messages: with just
// PM_QS_SENDMESSAGE, PeekMessageA takes nothing out of the queue, so no
// message hook runs either.
void WaitHandlingSentMessages(HANDLE event) {
  while (MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
    MSG message;
    PeekMessageA(&message, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

}  // namespace

JobThread::JobThread() : thread_(NULL), ready_(NULL), done_(NULL), job_(NULL) {
  ready_ = CreateEventA(NULL, FALSE, FALSE, NULL);
  done_ = CreateEventA(NULL, FALSE, FALSE, NULL);
  if (ready_ != NULL && done_ != NULL) thread_ = CreateThread(NULL, 0, Main, this, 0, NULL);
  if (thread_ == NULL) Fail("cannot start a thread (error %lu)", GetLastError());
}

JobThread::~JobThread() {
  job_ = NULL;
  SetEvent(ready_);
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
  CloseHandle(done_);
  CloseHandle(ready_);
}

void JobThread::Run(const std::function<void()>& job) {
  job_ = &job;
  SetEvent(ready_);
  WaitHandlingSentMessages(done_);
}

DWORD WINAPI JobThread::Main(LPVOID self) {
  JobThread* thread = static_cast<JobThread*>(self);
  for (;;) {
    WaitHandlingSentMessages(thread->ready_);
    if (thread->job_ == NULL) return 0;
    (*thread->job_)();
    SetEvent(thread->done_);
  }
}
