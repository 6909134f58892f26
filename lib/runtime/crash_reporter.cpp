#include "runtime/crash_reporter.h"

#include <cstdio>
#include <cstring>

#include "file/file_object.h"
#include "platform/file.h"

namespace {

struct ExceptionName {
    uint32_t code;
    const char* text;
};

// Ended by 0xFFFFFFFF, whose text names every code not listed.
const ExceptionName kExceptionNames[] = {
    {0xC0000005, "ページアクセス例外"},
    {0x80000002, "アライメント例外"},
    {0xC000008C, "配列境界例外"},
    {0xC000008D, "FPU デノーマルオペランド例外"},
    {0xC000008E, "FPU ゼロ除算例外"},
    {0xC000008F, "FPU 精度例外"},
    {0xC0000090, "FPU 不正オペランド例外"},
    {0xC0000091, "FPU オーバーフロー例外"},
    {0xC0000092, "FPU スタックチェック例外"},
    {0xC0000093, "FPU アンダーフロー例外"},
    {0xC0000094, "ゼロ除算例外"},
    {0xC0000095, "オーバーフロー例外"},
    {0xC0000096, "特権命令例外"},
    {0xC0000006, "ページ例外"},
    {0xC000001D, "無効命令例外"},
    {0xC00000FD, "スタックオーバーフロー例外"},
    {0xC0000026, "不正ディスポジション例外"},
    {0x80000001, "保護ページ例外"},
    {0xFFFFFFFF, "無効例外"},
};

constexpr uint32_t kSingleStep = 0x80000004;
constexpr uint32_t kBreakpoint = 0x80000003;
constexpr uint32_t kInPageError = 0xC0000006;
constexpr uint32_t kTrapFlag = 0x100;
// A persistent in-page error of one instruction at one data address is
// retried this many times in a row; after that it is reported like any other
// exception. A copy loop reading a damaged mapping faults once on each bad
// page and goes on after the retry: those faults each begin a run of their
// own.
constexpr uint32_t kInPageRetries = 16;

const char kCaption[] = "◆　例外エラー情報　◆";
const char kBreakpointQuestion[] = "ブレークポイント例外が %08XH で発生しました。\n処理を続行しますか？";
const char kMainQuestion[] =
    "▼ プログラム実行中に以下の例外エラーが発生しました。\n    %s\n    CS:EIP = %04X:%08X\n\n"
    "詳細をログファイルに保存しますか？\n\n"
    "※このログファイルをプログラム開発者に送ると何らかの修正情報が得られるかもしれません。\n\n"
    "≫ログを保存して実行を継続する場合には「はい」を、\n"
    "≫ログを保存せずに実行を継続する場合には「いいえ」を、\n"
    "≫ログを保存せずに終了する場合には「キャンセル」を選択してください。";
const char kSavedQuestion[] = "ログファイルを保存しました。\n処理を続行しますか？";
const char kHeader[] =
    "モジュール：%s\r\n例外エラーがスレッド %08XH で発生しました。\r\n例外エラーコード：%08XH\r\n"
    "例外エラーの種類：%s\r\n\r\n\r\nレジスタダンプ；\r\nCS:EIP  = %04X:%08X\r\n"
    "EAX = %08X, EBX = %08X, ECX = %08X, EDX = %08X\r\n"
    "ESI = %08X, EDI = %08X, EBP = %08X, ESP = %08X\r\n"
    "DS = %04X, ES = %04X, FS = %04X, GS = %04X, SS = %04X\r\n\r\n\r\n";

struct InPageRun {
    uint32_t address;
    uint32_t data_address;
    uint32_t count;
};
// Per thread: threads faulting side by side would otherwise reset each
// other's run and retry for ever.
thread_local InPageRun t_in_page = {0, 0, 0};

CrashReporterHandler g_handler;
bool g_handler_set = false;

void WriteText(HVBFileObject* file, const char* text) {
    file->Write(text, static_cast<uint32_t>(std::strlen(text)));
}

}  // namespace

void SetCrashReporterHandler(const CrashReporterHandler* handler) {
    g_handler_set = handler != nullptr;
    if (handler != nullptr) g_handler = *handler;
}

const CrashReporterHandler* GetCrashReporterHandler() { return g_handler_set ? &g_handler : nullptr; }

const char* GetExceptionName(uint32_t code) {
    const ExceptionName* entry = kExceptionNames;
    while (entry->code != code && entry->code != 0xFFFFFFFF) ++entry;
    return entry->text;
}

void DumpMemory(HVBFileObject* file, uint32_t base, const char* label, int32_t first, int32_t end,
                bool (*read_byte)(uint32_t address, unsigned char* byte, void* context), void* context) {
    for (int32_t offset = first; offset < end; offset += 16) {
        // Prefix (at most 11 characters), 16 × 3, four spaces, 16, " \r\n".
        char line[96];
        int at = offset == 0 ? std::snprintf(line, sizeof line, "%9s : ", label)
                             : std::snprintf(line, sizeof line, "%08XH : ", base + static_cast<uint32_t>(offset));
        if (at < 0 || at > 16) at = 16;  // a label longer than nine characters is cut
        char characters[16];
        for (int i = 0; i < 16; ++i) {
            unsigned char byte = 0;
            const uint32_t address = base + static_cast<uint32_t>(offset) + static_cast<uint32_t>(i);
            if (read_byte(address, &byte, context)) {
                std::snprintf(line + at, 4, "%02X ", byte);
                characters[i] = byte < 0x20 ? '.' : static_cast<char>(byte);
            } else {
                std::memcpy(line + at, "?? ", 3);
                characters[i] = '.';
            }
            at += 3;
        }
        std::memcpy(line + at, "    ", 4);
        at += 4;
        std::memcpy(line + at, characters, 16);
        at += 16;
        std::memcpy(line + at, " \r\n", 3);
        at += 3;
        file->Write(line, static_cast<uint32_t>(at));
    }
    WriteText(file, "\r\n\r\n");
}

void WriteCrashLog(HVBFileObject* file, const CrashReport& report, const CrashHost& host) {
    const CrashRegisters& r = report.registers;
    char header[2048];
    std::snprintf(header, sizeof header, kHeader, host.module_path, host.thread_id, report.code,
                  GetExceptionName(report.code), r.cs, r.eip, r.eax, r.ebx, r.ecx, r.edx, r.esi, r.edi, r.ebp, r.esp,
                  r.ds, r.es, r.fs, r.gs, r.ss);
    WriteText(file, header);
    WriteText(file, "コードダンプ；\r\n");
    DumpMemory(file, r.eip, "EIP+0000H", -256, 256, host.read_byte, host.context);
    WriteText(file, "スタックダンプ；\r\n");
    DumpMemory(file, r.esp, "ESP+0000H", 0, 512, host.read_byte, host.context);
    WriteText(file, "データダンプ；\r\n");
    const struct {
        uint32_t value;
        const char* label;
    } data[] = {
        {r.eax, "EAX+0000H"}, {r.ebx, "EBX+0000H"}, {r.ecx, "ECX+0000H"}, {r.edx, "EDX+0000H"},
        {r.esi, "ESI+0000H"}, {r.edi, "EDI+0000H"}, {r.ebp, "EBP+0000H"},
    };
    for (const auto& d : data) {
        if (d.value >= 0x10000) DumpMemory(file, d.value, d.label, 0, 128, host.read_byte, host.context);
    }
}

namespace {

// The log goes straight to the system's file calls, keeping no path: the
// crashed thread may hold the library heap's lock, which a file object that
// allocates would wait on for ever.
class LogFile : public HVBFileObject {
public:
    explicit LogFile(const char* path)
        : handle_(plat::CreateFileHandle(path, plat::kGenericWrite, 0, plat::kCreateAlways)) {}
    ~LogFile() override {
        if (IsOpen()) plat::CloseFileHandle(handle_);
    }
    bool IsOpen() const { return handle_ != plat::InvalidFileHandle(); }
    HVBFileObject* Duplicate() override { return nullptr; }
    uint32_t Read(void*, uint32_t) override { return 0; }
    uint32_t Write(const void* buffer, uint32_t count) override {
        uint32_t done = 0;
        plat::WriteFileData(handle_, buffer, count, &done);
        return done;
    }
    uint32_t GetLength() override { return plat::GetFileSizeLow(handle_); }
    uint32_t Seek(int32_t distance, uint32_t origin) override { return plat::SetFilePointer(handle_, distance, origin); }
    uint32_t GetPosition() override { return plat::SetFilePointer(handle_, 0, plat::kFileCurrent); }

private:
    plat::FileHandle handle_;
};

int32_t SaveLog(const CrashReport& report, const CrashHost& host) {
    char path[1025] = {};
    if (!host.choose_log_file(path, 1025, host.context)) return 0;
    {
        LogFile log(path);
        if (!log.IsOpen()) return 0;
        WriteCrashLog(&log, report, host);
    }
    return host.ask(kSavedQuestion, kCaption, CrashYesNo, host.context) == plat::Answer::Yes ? -1 : 0;
}

}  // namespace

void PrepareCrashThread() {
    // Taking the address is the touch (where thread-local storage is emulated,
    // its first one allocates); a volatile keeps it from being dropped.
    InPageRun* volatile touched = &t_in_page;
    (void)touched;
}

namespace {

int32_t Decide(CrashReport* report, const CrashHost& host) {
    const uint32_t code = report->code;
    // Resuming quietly needs an exception that can be resumed.
    if (code == kInPageError && !report->noncontinuable) {
        if (t_in_page.address != report->address || t_in_page.data_address != report->data_address) {
            t_in_page = {report->address, report->data_address, 0};
        }
        if (++t_in_page.count <= kInPageRetries) return -1;
    }
    t_in_page = {0, 0, 0};

    if (code == kSingleStep && !report->noncontinuable) {
        report->registers.eflags &= ~kTrapFlag;
        return -1;
    }
    char text[1280];
    if (code == kBreakpoint) {
        std::snprintf(text, sizeof text, kBreakpointQuestion, report->address);
        if (host.ask(text, kCaption, CrashYesNo, host.context) != plat::Answer::Yes) return 0;
        unsigned char instruction = 0;
        if (host.read_byte(report->registers.eip, &instruction, host.context) && instruction == 0xCC) {
            ++report->registers.eip;
        } else if (report->address == report->registers.eip + 1) {
            // A breakpoint raised by a call, not an int3: the system stepped
            // EIP back one byte as for the instruction, into the middle of
            // the call's own. It goes on after the call.
            report->registers.eip = report->address;
        }
        return -1;
    }

    std::snprintf(text, sizeof text, kMainQuestion, GetExceptionName(code), report->registers.cs,
                  report->registers.eip);
    switch (host.ask(text, kCaption, CrashYesNoCancel, host.context)) {
        case plat::Answer::Cancel:
            host.exit_process(0xFFFFFFFF, host.context);
            return 0;
        case plat::Answer::No:
            return -1;
        case plat::Answer::Yes:
            break;
    }
    return SaveLog(*report, host);
}

}  // namespace

int32_t HandleCrash(CrashReport* report, const CrashHost& host) {
    const int32_t result = Decide(report, host);
    return result == -1 && report->noncontinuable ? 1 : result;
}
