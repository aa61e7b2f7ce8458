#include "tools/Support/Interrupt.h"

#include <csignal>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace QuenfoldEngine { namespace Tools {

namespace {

volatile std::sig_atomic_t interruptFlag = 0;

#ifdef _WIN32
/* Windows runs console handlers on a thread of their own: the waiting
   thread is woken by a call queued to it, which its alertable wait runs */
HANDLE waitingThread;

void CALLBACK wake(ULONG_PTR) {}

BOOL WINAPI onConsoleEvent(const DWORD event) {
    if(event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    interruptFlag = 1;
    QueueUserAPC(wake, waitingThread, 0);
    return TRUE;
}
#else
/* A signal ends the wait in poll(), which is never restarted */
extern "C" void onSignal(int) { interruptFlag = 1; }
#endif

}

void catchInterrupts() {
    #ifdef _WIN32
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &waitingThread, 0, FALSE, DUPLICATE_SAME_ACCESS);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    #else
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    #endif
}

bool interrupted() {
    return interruptFlag;
}

}}
