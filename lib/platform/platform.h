// The narrow surface through which the library reaches the operating system.
// Portable code includes this header only; lib/platform/win32 and
// lib/platform/posix each implement it in plain terms of their own system.
// Where the library's behaviour is defined in Win32 terms, these calls keep
// those terms and the posix backend reproduces them as far as POSIX allows.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat {

// ---- page memory -----------------------------------------------------------

// Committed, zero-filled, read/write pages; null on failure. Size is a multiple
// of the page size (4096).
void* PageAllocate(uint32_t size);
// Releases a region returned by PageAllocate; size is the size it was given.
// Returns non-zero on success, as VirtualFree does.
int PageRelease(void* address, uint32_t size);
#if defined(HVB_FUZZING)
// Under the fuzzer: regions larger than this are refused, as on a machine
// whose memory has run out, so that a target reaches the paths that handle a
// failed allocation. 0xFFFFFFFF (the start) refuses none.
void SetLargestPageAllocation(uint32_t size);
#endif

// ---- critical sections -----------------------------------------------------

// Recursive lock whose storage is laid out inside library structures (the heap
// keeps one at a fixed offset of its first segment), so its size is fixed.
struct CriticalSection {
    alignas(sizeof(void*)) unsigned char opaque[24];
};
void InitializeCriticalSection(CriticalSection* cs);
void DeleteCriticalSection(CriticalSection* cs);
void EnterCriticalSection(CriticalSection* cs);
void LeaveCriticalSection(CriticalSection* cs);

// ---- thread-local storage and interlocked counters -------------------------

constexpr uint32_t TlsOutOfIndexes = 0xFFFFFFFFu;
uint32_t TlsAlloc();
int TlsFree(uint32_t index);
void* TlsGetValue(uint32_t index);
int TlsSetValue(uint32_t index, void* value);

int32_t AtomicIncrement(volatile int32_t* value);
int32_t AtomicDecrement(volatile int32_t* value);

// ---- events, threads and time ----------------------------------------------

// A Win32 manual-reset event: stays set until reset, waking every waiter.
using EventHandle = void*;
// Unnamed, default security; null on failure.
EventHandle CreateManualResetEvent(bool initially_set);
void CloseEvent(EventHandle event);
void SetEvent(EventHandle event);
void ResetEvent(EventHandle event);
// Waits without time-out until one of the events is set; returns the index of
// the first set one in array order (as WaitForMultipleObjects reports it).
uint32_t WaitForAnyEvent(const EventHandle* events, uint32_t count);
// A time-out that never expires (INFINITE).
constexpr uint32_t Infinite = 0xFFFFFFFFu;
enum class WaitResult { Signalled, TimedOut, MessageArrived, Failed };
// Waits up to the given milliseconds for the event to be set. With
// with_messages, input arriving in the calling thread's message queue also
// ends the wait (MsgWaitForMultipleObjects with QS_ALLINPUT); systems without
// message queues ignore it.
WaitResult WaitForEvent(EventHandle event, uint32_t milliseconds, bool with_messages);

// A thread started through the seam. The handle may be closed while the
// thread runs; the thread keeps running.
using ThreadHandle = void*;
using ThreadRoutine = uint32_t (*)(void* parameter);
constexpr uint32_t CreateSuspended = 0x4;
// Stack size 0 means the default. CreateSuspended is honoured on Win32 only.
// Null on failure.
ThreadHandle CreateThread(uint32_t stack_size, ThreadRoutine routine, void* parameter, uint32_t flags,
                          uint32_t* thread_id);
int CloseThreadHandle(ThreadHandle thread);
// Waits without time-out for the thread's end; returns its exit code.
uint32_t WaitForThread(ThreadHandle thread);
uint32_t GetCurrentThreadId();

// Milliseconds on a free-running 32-bit clock (timeGetTime).
uint32_t TimeGetTime();

// ---- processor probes --------------------------------------------------------

// While armed, a processor fault (illegal instruction, access violation, ...)
// of the calling thread at an instruction in [begin, end) resumes execution
// at `resume` with the stack pointer left as it was at the faulting
// instruction. Every other fault, of this thread or any other, goes on to
// whatever handled it before. Used by code whose probe instructions do not
// touch the stack between arming and the resume point.
void ArmFaultResume(const void* begin, const void* end, const void* resume);
void DisarmFaultResume();

// Requests 1 ms timer resolution; returns the status of the request
// (0 on success).
uint32_t BeginTimerPeriod(uint32_t milliseconds);

// ---- diagnostics and the user ------------------------------------------------

// The library's debug trace: discarded unless the environment variable
// HVB_TRACE is set, in which case the text goes to standard error.
void DebugTrace(const char* text);
// Every trace text also goes to this sink, if one is installed (tests read
// the messages of parsers this way); null removes it.
void SetDebugTraceSink(void (*sink)(const char* text, void* context), void* context);

// The debugger output (OutputDebugStringA on Windows; the debug trace on other
// systems). Every text also goes to the sink installed below, if any.
void DebuggerOutput(const char* text);
using DebugOutputSink = void (*)(const char* text, void* context);
void SetDebugOutputSink(DebugOutputSink sink, void* context);

// Asks the user a Yes / No / Cancel question with no owner window. Texts are
// the program's own, CP932 on any system. Returns one of the answers below.
enum class Answer { Yes, No, Cancel };
Answer AskYesNoCancel(const char* text, const char* caption);
// Lets a program (tests, batch tools) answer the question itself; null restores
// the interactive question.
using PromptHandler = Answer (*)(const char* text, const char* caption, void* context);
void SetPromptHandler(PromptHandler handler, void* context);

}  // namespace plat
