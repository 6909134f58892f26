// The crash reporter: the process's unhandled-exception filter, installed by
// the first task of every thread. It resumes single steps and in-page errors,
// offers to go on after a breakpoint, and otherwise asks whether to save a
// crash log, continue, or quit. The decisions and the log's text are made
// here over a small set of hooks, so they are the same wherever they run;
// the Win32 filter supplies the real hooks.
#pragma once

#include <cstdint>

#include "file/file_object.h"
#include "platform/platform.h"

// The registers of the faulting context that the reporter reads, and EIP and
// EFlags, which it may change.
struct CrashRegisters {
    uint32_t eip, eflags;
    uint32_t eax, ebx, ecx, edx, esi, edi, ebp, esp;
    uint32_t cs, ds, es, fs, gs, ss;
};

struct CrashReport {
    uint32_t code;
    uint32_t address;  // where the exception happened
    // The data address a page fault or in-page error concerns; 0 otherwise.
    uint32_t data_address;
    CrashRegisters registers;
    // Raised with EXCEPTION_NONCONTINUABLE: execution cannot go on from it.
    bool noncontinuable;
};

// The buttons of a question: MB_YESNO or MB_YESNOCANCEL.
enum : uint32_t { CrashYesNo = 4, CrashYesNoCancel = 3 };

// Lets a program answer the reporter's questions and its save dialog itself
// (test programs, unattended runs). Null members fall back to the real
// message box or dialog.
struct CrashReporterHandler {
    plat::Answer (*ask)(const char* text, const char* caption, uint32_t buttons, void* context);
    // Fills path (size bytes, zero-terminated) with the log's file name;
    // false when cancelled.
    bool (*choose_log_file)(char* path, uint32_t size, void* context);
    void* context;
};
// Null restores the boxes and the dialog; the handler is copied.
void SetCrashReporterHandler(const CrashReporterHandler* handler);
const CrashReporterHandler* GetCrashReporterHandler();

// What the reporter needs of its surroundings.
struct CrashHost {
    plat::Answer (*ask)(const char* text, const char* caption, uint32_t buttons, void* context);
    bool (*choose_log_file)(char* path, uint32_t size, void* context);
    // One byte of the faulting process's memory; false when unreadable.
    bool (*read_byte)(uint32_t address, unsigned char* byte, void* context);
    // Ends the process; returns only where a test stands in for it.
    void (*exit_process)(uint32_t code, void* context);
    const char* module_path;
    uint32_t thread_id;
    void* context;
};

// -1 continue execution (with report->registers as changed), 0 continue the
// search (the system's default handling), 1 execute the handler: where the
// answer is to go on from an exception that cannot be continued, which would
// only raise a new one over it and ask again. The count of in-page errors
// retried in a row is the calling thread's own.
int32_t HandleCrash(CrashReport* report, const CrashHost& host);
// Makes the calling thread's own state of the reporter (its in-page run) before
// any crash: the first touch of it may allocate, which a thread reporting for
// another that holds an allocator's lock could wait on for ever.
void PrepareCrashThread();

// The name of an exception code; "無効例外" for any code not known.
const char* GetExceptionName(uint32_t code);

// Hexadecimal lines of the memory at base + first .. base + end, 16 bytes a
// line; unreadable bytes are "??" and ".".
void DumpMemory(HVBFileObject* file, uint32_t base, const char* label, int32_t first, int32_t end,
                bool (*read_byte)(uint32_t address, unsigned char* byte, void* context), void* context);
// The whole log: header, registers, code, stack and data dumps.
void WriteCrashLog(HVBFileObject* file, const CrashReport& report, const CrashHost& host);

// Installs the reporter as the process's unhandled-exception filter; returns
// the previous filter (0 where the system has none to install).
int32_t InstallCrashReporter();
