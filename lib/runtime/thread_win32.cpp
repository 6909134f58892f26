// The base body of a library thread: its message loop.
#include <windows.h>

#include "runtime/thread.h"

uint32_t EZMRThread::Run() {
    MSG message;
    // -1 is GetMessageA's failure, which would otherwise repeat for ever.
    for (;;) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) break;
        OnMessage(&message);
    }
    return 0;
}

intptr_t EZMRThread::OnMessage(tagMSG* message) {
    TranslateMessage(message);
    return DispatchMessageA(message);
}
