// The Win32 unhandled-exception filter over the reporter's decisions: real
// message boxes, the save dialog, guarded memory reads, ExitProcess.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include "platform/codepage.h"
#include "runtime/crash_reporter.h"

namespace {

const char kLogFilter[] = "error log file (*.log)\0*.log\0";
const char kSaveTitle[] = "ログファイル保存";

void NoteQuestion();

plat::Answer AskBox(const char* text, const char* caption, uint32_t buttons, void*) {
    if (const CrashReporterHandler* handler = GetCrashReporterHandler(); handler && handler->ask) {
        NoteQuestion();
        return handler->ask(text, caption, buttons, handler->context);
    }
    WideChar wide_text[1280];
    WideChar wide_caption[128];
    switch (MessageBoxW(nullptr, plat::OwnText(text, wide_text, 1280), plat::OwnText(caption, wide_caption, 128),
                        buttons | MB_SETFOREGROUND)) {
        case IDYES: return plat::Answer::Yes;
        case IDNO: return plat::Answer::No;
        default: return plat::Answer::Cancel;
    }
}

bool ChooseLogFile(char* path, uint32_t size, void*) {
    if (const CrashReporterHandler* handler = GetCrashReporterHandler(); handler && handler->choose_log_file) {
        return handler->choose_log_file(path, size, handler->context);
    }
    InitCommonControls();
    WideChar filter[sizeof kLogFilter];
    WideChar title[64];
    WideChar wide_path[1025] = {};
    if (size > 1025) size = 1025;
    // The filter's own terminators are converted with it.
    if (plat::OwnTextToWide(kLogFilter, sizeof kLogFilter, filter, sizeof kLogFilter) == 0) return false;
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = 76;  // the size without the Windows 2000 additions
    dialog.hwndOwner = nullptr;
    dialog.lpstrFilter = filter;
    dialog.lpstrFile = wide_path;
    dialog.nMaxFile = size - 1;
    dialog.lpstrTitle = plat::OwnText(kSaveTitle, title, 64);
    dialog.lpstrDefExt = L"log";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;
    path[0] = 0;
    if (GetSaveFileNameW(&dialog) == FALSE) return false;
    // The file is opened by its name in the system's code page: a name that
    // code page cannot hold would name another file.
    bool lossy = false;
    return plat::WideToAnsi(wide_path, -1, path, static_cast<int>(size), &lossy) != 0 && !lossy;
}

// The one load of a guarded read. A fault there (a page freed meanwhile, a
// view whose file is gone: an in-page error) resumes at the failing return,
// whatever the fault; the load is the only instruction that handler knows.
extern "C" bool hvb_guarded_load(const void* address, unsigned char* byte);
extern "C" char hvb_guarded_load_at[], hvb_guarded_load_failed[];
asm(R"(
    .text
    .globl _hvb_guarded_load, _hvb_guarded_load_at, _hvb_guarded_load_failed
_hvb_guarded_load:
    movl 4(%esp), %ecx
_hvb_guarded_load_at:
    movzbl (%ecx), %eax
    movl 8(%esp), %ecx
    movb %al, (%ecx)
    movl $1, %eax
    ret
_hvb_guarded_load_failed:
    xorl %eax, %eax
    ret
)");

LONG CALLBACK GuardedLoadFault(EXCEPTION_POINTERS* pointers) {
    CONTEXT* c = pointers->ContextRecord;
    if (c->Eip != reinterpret_cast<uintptr_t>(hvb_guarded_load_at)) return EXCEPTION_CONTINUE_SEARCH;
    c->Eip = reinterpret_cast<uintptr_t>(hvb_guarded_load_failed);
    return EXCEPTION_CONTINUE_EXECUTION;
}

bool ReadByte(uint32_t address, unsigned char* byte, void*) {
    const void* at = reinterpret_cast<const void*>(static_cast<uintptr_t>(address));
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(at, &info, sizeof info) == 0) return false;
    constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                                PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    // A guard page is not touched: the touch would take its guard away.
    if (info.State != MEM_COMMIT || (info.Protect & kReadable) == 0 || (info.Protect & PAGE_GUARD) != 0) {
        return false;
    }
    return hvb_guarded_load(at, byte);
}

void Exit(uint32_t code, void*) { ExitProcess(code); }

// Kept out of the filter's own frame: a stack overflow leaves too little
// stack for these locals, the boxes and the save dialog.
__attribute__((noinline)) LONG Report(EXCEPTION_POINTERS* pointers, DWORD thread_id) {
    CONTEXT* c = pointers->ContextRecord;
    CrashReport report;
    report.code = pointers->ExceptionRecord->ExceptionCode;
    report.address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointers->ExceptionRecord->ExceptionAddress));
    // Access violations and in-page errors give the data address second.
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    report.data_address = record->NumberParameters >= 2 ? static_cast<uint32_t>(record->ExceptionInformation[1]) : 0;
    report.registers = {c->Eip,    c->EFlags, c->Eax,    c->Ebx,    c->Ecx,    c->Edx,    c->Esi,    c->Edi,
                        c->Ebp,    c->Esp,    c->SegCs,  c->SegDs,  c->SegEs,  c->SegFs,  c->SegGs,  c->SegSs};
    report.noncontinuable = (pointers->ExceptionRecord->ExceptionFlags & EXCEPTION_NONCONTINUABLE) != 0;
    char module[1025] = {};
    GetModuleFileNameA(nullptr, module, 1024);
    const CrashHost host = {AskBox, ChooseLogFile, ReadByte, Exit, module, thread_id, nullptr};
    void* const guard = AddVectoredExceptionHandler(1, GuardedLoadFault);
    const int32_t result = HandleCrash(&report, host);
    if (guard != nullptr) RemoveVectoredExceptionHandler(guard);
    c->Eip = report.registers.eip;
    c->EFlags = report.registers.eflags;
    return result;
}

// A stack overflow is reported by a helper thread, started with the reporter:
// starting a thread in the middle of a crash takes the loader lock, which the
// crashed thread may hold. The helper has touched its own thread state by
// then, and writes the log without the library heap; what it cannot avoid
// (the boxes, the dialog) may still wait on a lock the crashed thread holds,
// so the crashed thread waits only so long for the first question.
struct HelperCall {
    EXCEPTION_POINTERS* pointers;
    DWORD thread_id;
    LONG result;
};

constexpr DWORD kFirstQuestionWait = 15000;

struct Helper {
    HANDLE work;     // auto-reset: a call is waiting
    HANDLE done;     // auto-reset: it is answered
    HANDLE asked;    // manual-reset: the call's first question is up
    DWORD thread_id;
    HelperCall call;  // not on the crashed stack: a helper given up on may still write it
    volatile LONG busy;
};
Helper g_helper;
volatile LONG g_helper_started = 0;

void NoteQuestion() {
    if (g_helper.asked != nullptr && GetCurrentThreadId() == g_helper.thread_id) SetEvent(g_helper.asked);
}

// On the helper, a box or the dialog counts as asked once it is activated
// (once it is on screen), not when it is asked for.
LRESULT CALLBACK NoteActivation(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HCBT_ACTIVATE) NoteQuestion();
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

DWORD WINAPI HelperLoop(void*) {
    PrepareCrashThread();
    SetWindowsHookExA(WH_CBT, NoteActivation, nullptr, GetCurrentThreadId());
    for (;;) {
        WaitForSingleObject(g_helper.work, INFINITE);
        g_helper.call.result = Report(g_helper.call.pointers, g_helper.call.thread_id);
        SetEvent(g_helper.done);
    }
}

void StartHelper() {
    if (InterlockedCompareExchange(&g_helper_started, 1, 0) != 0) return;
    g_helper.work = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    g_helper.done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    g_helper.asked = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (g_helper.work == nullptr || g_helper.done == nullptr || g_helper.asked == nullptr) return;
    HANDLE thread = CreateThread(nullptr, 0, HelperLoop, nullptr, 0, &g_helper.thread_id);
    if (thread != nullptr) CloseHandle(thread);
}

LONG ReportOnHelper(EXCEPTION_POINTERS* pointers) {
    if (g_helper.thread_id == 0 || InterlockedExchange(&g_helper.busy, 1) != 0) return EXCEPTION_CONTINUE_SEARCH;
    g_helper.call = {pointers, GetCurrentThreadId(), EXCEPTION_CONTINUE_SEARCH};
    ResetEvent(g_helper.asked);
    SetEvent(g_helper.work);
    const HANDLE first[2] = {g_helper.done, g_helper.asked};
    const DWORD waited = WaitForMultipleObjects(2, first, FALSE, kFirstQuestionWait);
    // Never asked: the helper waits on a lock the crashed thread holds. The
    // system's own handling would wait on the same locks (it starts a
    // debugger, asks, writes a report), and the stack is used up: the process
    // ends here, with the exception's code.
    if (waited == WAIT_TIMEOUT || waited == WAIT_FAILED) {
        TerminateProcess(GetCurrentProcess(), EXCEPTION_STACK_OVERFLOW);
        return EXCEPTION_CONTINUE_SEARCH;
    }
    if (waited == WAIT_OBJECT_0 + 1) WaitForSingleObject(g_helper.done, INFINITE);
    const LONG result = g_helper.call.result;
    InterlockedExchange(&g_helper.busy, 0);
    return result;
}

LONG WINAPI CrashReporterFilter(EXCEPTION_POINTERS* pointers) {
    if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW) {
        return Report(pointers, GetCurrentThreadId());
    }
    // The faulting thread's stack is used up: the helper reports for it while
    // it waits.
    return ReportOnHelper(pointers);
}

}  // namespace

int32_t InstallCrashReporter() {
    StartHelper();
    return static_cast<int32_t>(reinterpret_cast<intptr_t>(SetUnhandledExceptionFilter(CrashReporterFilter)));
}
