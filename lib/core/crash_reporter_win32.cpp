// The Win32 unhandled-exception filter over the reporter's decisions: real
// message boxes, the save dialog, memory read only where VirtualQuery says it
// is readable, ExitProcess.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include "core/crash_reporter.h"

namespace {

const char kLogFilter[] = "error log file (*.log)\0*.log\0";
const char kSaveTitle[] = "ログファイル保存";

plat::Answer AskBox(const char* text, const char* caption, uint32_t buttons, void*) {
    if (const CrashReporterHandler* handler = GetCrashReporterHandler(); handler && handler->ask) {
        return handler->ask(text, caption, buttons, handler->context);
    }
    switch (MessageBoxA(nullptr, text, caption, buttons | MB_SETFOREGROUND)) {
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
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = 76;  // the size without the Windows 2000 additions
    dialog.hwndOwner = nullptr;
    dialog.lpstrFilter = kLogFilter;
    path[0] = 0;
    dialog.lpstrFile = path;
    dialog.nMaxFile = size - 1;
    dialog.lpstrTitle = kSaveTitle;
    dialog.lpstrDefExt = "log";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;
    return GetSaveFileNameA(&dialog) != FALSE;
}

bool ReadByte(uint32_t address, unsigned char* byte, void*) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(reinterpret_cast<const void*>(static_cast<uintptr_t>(address)), &info, sizeof info) == 0) {
        return false;
    }
    constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                                PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    if (info.State != MEM_COMMIT || (info.Protect & kReadable) == 0 || (info.Protect & PAGE_GUARD) != 0) {
        return false;
    }
    *byte = *reinterpret_cast<const volatile unsigned char*>(static_cast<uintptr_t>(address));
    return true;
}

void Exit(uint32_t code, void*) { ExitProcess(code); }

LONG WINAPI CrashReporterFilter(EXCEPTION_POINTERS* pointers) {
    CONTEXT* c = pointers->ContextRecord;
    CrashReport report;
    report.code = pointers->ExceptionRecord->ExceptionCode;
    report.address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointers->ExceptionRecord->ExceptionAddress));
    report.registers = {c->Eip,    c->EFlags, c->Eax,    c->Ebx,    c->Ecx,    c->Edx,    c->Esi,    c->Edi,
                        c->Ebp,    c->Esp,    c->SegCs,  c->SegDs,  c->SegEs,  c->SegFs,  c->SegGs,  c->SegSs};
    char module[1025] = {};
    GetModuleFileNameA(nullptr, module, 1024);
    const CrashHost host = {AskBox, ChooseLogFile, ReadByte, Exit, module, GetCurrentThreadId(), nullptr};
    const int32_t result = HandleCrash(&report, host);
    c->Eip = report.registers.eip;
    c->EFlags = report.registers.eflags;
    return result;
}

}  // namespace

int32_t InstallCrashReporter() {
    return static_cast<int32_t>(reinterpret_cast<intptr_t>(SetUnhandledExceptionFilter(CrashReporterFilter)));
}
