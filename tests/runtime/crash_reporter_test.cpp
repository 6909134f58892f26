#include "runtime/crash_reporter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "../file/temp_dir.h"
#include "file/memory_file.h"
#include "file/raw_file.h"

namespace {

// A fake process: readable bytes at [base, base + size), nothing elsewhere;
// scripted answers; a file name for the save dialog or none.
struct FakeProcess {
    uint32_t base = 0x00401000 - 0x100;
    std::vector<unsigned char> memory = std::vector<unsigned char>(0x300, 0x90);
    std::vector<plat::Answer> answers;
    std::vector<std::string> questions;
    std::string log_path;  // empty: the dialog is cancelled
    uint32_t exit_code = 0;

    CrashHost Host() {
        return {Ask, Choose, Read, Exit, "C:\\game\\trial.exe", 0x2A, this};
    }
    static plat::Answer Ask(const char* text, const char*, uint32_t, void* self) {
        auto* p = static_cast<FakeProcess*>(self);
        p->questions.push_back(text);
        const size_t i = p->questions.size() - 1;
        return i < p->answers.size() ? p->answers[i] : plat::Answer::No;
    }
    static bool Choose(char* path, uint32_t size, void* self) {
        auto* p = static_cast<FakeProcess*>(self);
        if (p->log_path.empty() || p->log_path.size() >= size) return false;
        std::memcpy(path, p->log_path.c_str(), p->log_path.size() + 1);
        return true;
    }
    static bool Read(uint32_t address, unsigned char* byte, void* self) {
        auto* p = static_cast<FakeProcess*>(self);
        if (address - p->base >= p->memory.size()) return false;
        *byte = p->memory[address - p->base];
        return true;
    }
    static void Exit(uint32_t code, void* self) { static_cast<FakeProcess*>(self)->exit_code = code; }
};

CrashReport Report(uint32_t code) {
    CrashReport r{};
    r.code = code;
    r.address = 0x00401000;
    r.registers.eip = 0x00401000;
    r.registers.cs = 0x1B;
    r.registers.eflags = 0x346;
    return r;
}

std::string Lines(const std::string& text, size_t from, size_t count) {
    size_t at = from;
    for (size_t i = 0; i < count && at != std::string::npos; ++i) at = text.find("\r\n", at) + 2;
    return text.substr(from, at - from);
}

}  // namespace

TEST(CrashReporter, Decisions) {
    using A = plat::Answer;
    TempDir dir;
    const std::string log = dir.File("crash.log");
    const std::string unwritable = dir.Path() + "/missing-dir/crash.log";
    struct Case {
        const char* what;
        uint32_t code;
        unsigned char at_eip;
        std::vector<A> answers;
        std::string log_path;
        int32_t result;
        size_t questions;
        uint32_t eip, eflags, exit_code;
        bool noncontinuable = false;
    } cases[] = {
        {"single step", 0x80000004, 0x90, {}, "", -1, 0, 0x00401000, 0x246, 0},
        {"breakpoint on int3", 0x80000003, 0xCC, {A::Yes}, "", -1, 1, 0x00401001, 0x346, 0},
        {"breakpoint elsewhere", 0x80000003, 0x90, {A::Yes}, "", -1, 1, 0x00401000, 0x346, 0},
        {"breakpoint declined", 0x80000003, 0xCC, {A::No}, "", 0, 1, 0x00401000, 0x346, 0},
        {"cancel ends", 0xC0000005, 0x90, {A::Cancel}, "", 0, 1, 0x00401000, 0x346, 0xFFFFFFFF},
        {"no retries", 0xC0000094, 0x90, {A::No}, "", -1, 1, 0x00401000, 0x346, 0},
        {"save cancelled", 0xC0000005, 0x90, {A::Yes}, "", 0, 1, 0x00401000, 0x346, 0},
        {"log not creatable", 0xC0000005, 0x90, {A::Yes}, unwritable, 0, 1, 0x00401000, 0x346, 0},
        {"saved, go on", 0xE06D7363, 0x90, {A::Yes, A::Yes}, log, -1, 2, 0x00401000, 0x346, 0},
        {"saved, stop", 0xC0000005, 0x90, {A::Yes, A::No}, log, 0, 2, 0x00401000, 0x346, 0},
        // Going on from what cannot be continued runs the handler instead.
        {"noncontinuable, no", 0xE06D7363, 0x90, {A::No}, "", 1, 1, 0x00401000, 0x346, 0, true},
        {"noncontinuable, saved, go on", 0xC0000005, 0x90, {A::Yes, A::Yes}, log, 1, 2, 0x00401000, 0x346, 0, true},
        {"noncontinuable breakpoint", 0x80000003, 0xCC, {A::Yes}, "", 1, 1, 0x00401001, 0x346, 0, true},
        {"noncontinuable in-page error asks", 0xC0000006, 0x90, {A::No}, "", 1, 1, 0x00401000, 0x346, 0, true},
    };
    for (const Case& c : cases) {
        FakeProcess p;
        p.memory[0x100] = c.at_eip;
        p.answers = c.answers;
        p.log_path = c.log_path;
        CrashReport report = Report(c.code);
        report.noncontinuable = c.noncontinuable;
        EXPECT_EQ(HandleCrash(&report, p.Host()), c.result) << c.what;
        EXPECT_EQ(p.questions.size(), c.questions) << c.what;
        EXPECT_EQ(report.registers.eip, c.eip) << c.what;
        EXPECT_EQ(report.registers.eflags, c.eflags) << c.what;
        EXPECT_EQ(p.exit_code, c.exit_code) << c.what;
        if (c.questions == 2) {
            EXPECT_EQ(p.questions[1], "ログファイルを保存しました。\n処理を続行しますか？");
            ERawFile written;
            EXPECT_EQ(written.Open(log.c_str(), modeRead), ResultSuccess) << c.what;
        }
    }

    // A raised breakpoint: EIP one byte back from where the call returns.
    FakeProcess raised;
    raised.answers = {A::Yes};
    CrashReport report = Report(0x80000003);
    report.registers.eip = report.address - 1;
    EXPECT_EQ(HandleCrash(&report, raised.Host()), -1);
    EXPECT_EQ(report.registers.eip, report.address);

    FakeProcess p;
    report = Report(0x80000003);
    HandleCrash(&report, p.Host());
    EXPECT_EQ(p.questions.at(0), "ブレークポイント例外が 00401000H で発生しました。\n処理を続行しますか？");
    report = Report(0xE06D7363);
    HandleCrash(&report, p.Host());
    EXPECT_EQ(p.questions.at(1),
              "▼ プログラム実行中に以下の例外エラーが発生しました。\n    無効例外\n    CS:EIP = 001B:00401000\n\n"
              "詳細をログファイルに保存しますか？\n\n"
              "※このログファイルをプログラム開発者に送ると何らかの修正情報が得られるかもしれません。\n\n"
              "≫ログを保存して実行を継続する場合には「はい」を、\n"
              "≫ログを保存せずに実行を継続する場合には「いいえ」を、\n"
              "≫ログを保存せずに終了する場合には「キャンセル」を選択してください。");
}

TEST(CrashReporter, InPageErrorsAreRetriedSixteenTimesInARow) {
    FakeProcess p;
    CrashReport report = Report(0xC0000006);
    for (int i = 0; i < 16; ++i) ASSERT_EQ(HandleCrash(&report, p.Host()), -1);
    EXPECT_TRUE(p.questions.empty());
    EXPECT_EQ(HandleCrash(&report, p.Host()), -1) << "answered No";
    ASSERT_EQ(p.questions.size(), 1u);
    EXPECT_NE(p.questions[0].find("ページ例外\n"), std::string::npos);
    // A new run of retries after the question, and at another address.
    for (int i = 0; i < 16; ++i) HandleCrash(&report, p.Host());
    report.address = 0x00402000;
    for (int i = 0; i < 16; ++i) HandleCrash(&report, p.Host());
    EXPECT_EQ(p.questions.size(), 1u);
}

// One copy loop over a damaged mapping: the same instruction faults once on
// each of many pages, and each retry succeeds.
TEST(CrashReporter, InPageRunsAreKeyedByTheDataAddressToo) {
    FakeProcess p;
    CrashReport report = Report(0xC0000006);
    for (uint32_t page = 0; page < 40; ++page) {
        report.data_address = 0x20000000u + page * 0x100000u;
        ASSERT_EQ(HandleCrash(&report, p.Host()), -1);
    }
    EXPECT_TRUE(p.questions.empty());
}

TEST(CrashReporter, InPageRunsAreCountedPerThread) {
    FakeProcess p;
    CrashReport report = Report(0xC0000006);
    for (int i = 0; i < 16; ++i) ASSERT_EQ(HandleCrash(&report, p.Host()), -1);
    // Another thread's in-page error elsewhere starts a run of its own.
    std::thread other([&p] {
        CrashReport elsewhere = Report(0xC0000006);
        elsewhere.address = 0x00402000;
        HandleCrash(&elsewhere, p.Host());
    });
    other.join();
    EXPECT_EQ(HandleCrash(&report, p.Host()), -1);
    EXPECT_EQ(p.questions.size(), 1u) << "the seventeenth in a row is asked about";
}

TEST(CrashReporter, DumpLinesShowUnreadableBytes) {
    FakeProcess p;
    p.base = 0x00401000 - 8;
    p.memory = {0, 1, 2, 3, 4, 5, 6, 7, 'A', 'B', 0x1F, 0x20, 0x7F, 0x80, 0xFF, 0x82, 0xA0, 0x00, 'z', '~', 0x0A, 0x0D,
                0x09, 0xE0};
    EMemoryFile file;
    file.Create(0);
    DumpMemory(&file, 0x00401000, "EIP+0000H", -32, 32, FakeProcess::Read, &p);
    const std::string unread = "?? ?? ?? ?? ?? ?? ?? ?? ";
    const std::string expected =
        "00400FE0H : " + unread + unread + "    ................ \r\n" +
        "00400FF0H : " + unread + "00 01 02 03 04 05 06 07     ................ \r\n" +
        "EIP+0000H : 41 42 1F 20 7F 80 FF 82 A0 00 7A 7E 0A 0D 09 E0     AB. \x7F\x80\xFF\x82\xA0.z~...\xE0 \r\n" +
        "00401010H : " + unread + unread + "    ................ \r\n\r\n\r\n";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.GetBuffer()), file.GetLength()), expected);
}

TEST(CrashReporter, LogHoldsHeaderCodeStackAndQualifyingData) {
    FakeProcess p;
    p.base = 0x00400000;
    p.memory.assign(0x4000, 0x11);
    CrashReport report = Report(0xC0000005);
    CrashRegisters& r = report.registers;
    r.eip = 0x00401000;
    r.esp = 0x00402000;
    r.eax = 0x00403000;  // readable
    r.ebx = 0x0000FFFF;  // too small to be an address
    r.ecx = 0;
    r.edx = 0x10000;  // unreadable
    r.esi = r.edi = r.ebp = 0x1234;
    r.ds = r.es = r.ss = 0x23;
    r.fs = 0x3B;
    EMemoryFile file;
    file.Create(0);
    WriteCrashLog(&file, report, p.Host());
    const std::string log(reinterpret_cast<const char*>(file.GetBuffer()), file.GetLength());

    EXPECT_EQ(Lines(log, 0, 13),
              "モジュール：C:\\game\\trial.exe\r\n例外エラーがスレッド 0000002AH で発生しました。\r\n"
              "例外エラーコード：C0000005H\r\n例外エラーの種類：ページアクセス例外\r\n\r\n\r\n"
              "レジスタダンプ；\r\nCS:EIP  = 001B:00401000\r\n"
              "EAX = 00403000, EBX = 0000FFFF, ECX = 00000000, EDX = 00010000\r\n"
              "ESI = 00001234, EDI = 00001234, EBP = 00001234, ESP = 00402000\r\n"
              "DS = 0023, ES = 0023, FS = 003B, GS = 0000, SS = 0023\r\n\r\n\r\n");
    struct Section {
        const char* title;  // the line before the dump, or a label line
        size_t lines;
        const char* zero_line_start;
    } sections[] = {
        {"コードダンプ；\r\n", 32, "EIP+0000H : 11"},
        {"スタックダンプ；\r\n", 32, "ESP+0000H : 11"},
        {"データダンプ；\r\n", 8, "EAX+0000H : 11"},
    };
    for (const Section& s : sections) {
        const size_t at = log.find(s.title);
        ASSERT_NE(at, std::string::npos) << s.title;
        const size_t first = at + std::strlen(s.title);
        const std::string dump = Lines(log, first, s.lines + 2);
        EXPECT_EQ(dump.substr(dump.size() - 7), " \r\n\r\n\r\n") << s.title;
        EXPECT_NE(dump.find(s.zero_line_start), std::string::npos) << s.title;
        EXPECT_EQ(dump.find(s.zero_line_start) % 83, 0u) << "every line is 83 bytes; " << s.title;
    }
    EXPECT_NE(log.find("00400F00H : 11"), std::string::npos) << "the code dump starts 256 bytes before EIP";
    EXPECT_NE(log.find("EDX+0000H : ?? ?? "), std::string::npos);
    for (const char* absent : {"EBX+0000H", "ECX+0000H", "ESI+0000H", "EDI+0000H", "EBP+0000H"}) {
        EXPECT_EQ(log.find(absent), std::string::npos) << absent;
    }
    // Header 13 lines, 32 + 32 + 8 + 8 dump lines, each dump followed by two
    // empty lines, three titles.
    size_t lines = 0;
    for (size_t at = log.find("\r\n"); at != std::string::npos; at = log.find("\r\n", at + 2)) ++lines;
    EXPECT_EQ(lines, 13u + 3 + 32 + 32 + 8 + 8 + 4 * 2);
}
