// This system has no thread message queues: the base body has nothing to
// loop on.
#include "runtime/thread.h"

uint32_t EZMRThread::Run() { return 0; }

intptr_t EZMRThread::OnMessage(tagMSG*) { return 0; }
