// WindowsThreads.cpp - linked into every Windows test program.
//
// On Windows GoogleTest keeps its per-thread values (the SCOPED_TRACE stack
// among them) in a registry that starts a watcher thread for each thread
// that first uses one.  A test program that ends a few milliseconds after
// its first SCOPED_TRACE can exit while that thread is still starting; under
// wine on a loaded machine the process then dies with a segmentation fault
// after every test has passed.  So the watcher is started before the first
// test, and the first test waits until the thread has attached (the loader
// calls this program's thread callback once a new thread is set up), so
// that exit only ever finds it waiting.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

HANDLE threadAttached() {
  static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}

void NTAPI onThreadEvent(PVOID, DWORD reason, PVOID) {
  if (reason == DLL_THREAD_ATTACH) SetEvent(threadAttached());
}

class WatcherThreadStarted : public ::testing::Environment {
 public:
  void SetUp() override {
    ResetEvent(threadAttached());
    { SCOPED_TRACE("GoogleTest's per-thread values, created before the first test"); }
    if (WaitForSingleObject(threadAttached(), 30000) != WAIT_OBJECT_0)
      ADD_FAILURE() << "GoogleTest's watcher thread did not start within 30 seconds";
  }
};

[[maybe_unused]] ::testing::Environment* const kWatcher =
    ::testing::AddGlobalTestEnvironment(new WatcherThreadStarted);

}  // namespace

// The loader calls the callbacks between the markers .CRT$XLA and .CRT$XLZ
// of the C runtime's thread-local storage directory.
extern "C" __attribute__((section(".CRT$XLY"), used)) const PIMAGE_TLS_CALLBACK corvaneOnThreadEvent =
    onThreadEvent;
