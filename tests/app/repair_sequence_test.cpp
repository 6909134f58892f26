#include "repair_sequence.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> g_copied;
const char* g_failing = "";

int Copy(const char* name) {
    g_copied.emplace_back(name);
    return std::string(name) == g_failing ? 0 : 1;
}

constexpr uintptr_t kPaint = 0;  // the dialog's first paint, not a command
constexpr uintptr_t kNext = ID_NEXT_FILE;
constexpr uintptr_t kOk = kCommandOk;
constexpr uintptr_t kCancel = kCommandCancel;

const char kThree[][kFileTableSlotSize] = {"a", "DIR\\b", "c", ""};
const char kEmpty[][kFileTableSlotSize] = {""};

}  // namespace

TEST(RepairSequence, WalksTheTableAndIgnoresKeysWhileCopying) {
    using A = RepairAction;
    struct Step {
        uintptr_t event;
        RepairAction action;
    };
    struct Case {
        const char* what;
        const char (*table)[kFileTableSlotSize];
        const char* failing;
        std::vector<Step> steps;
        std::vector<std::string> copied;
    } cases[] = {
        {"every file",
         kThree,
         "",
         {{kPaint, A::kPostNextFile}, {kNext, A::kPostNextFile}, {kNext, A::kPostNextFile}, {kNext, A::kEndCopied}},
         {"a", "DIR\\b", "c"}},
        {"empty table ends at once", kEmpty, "", {{kPaint, A::kPostNextFile}, {kNext, A::kEndCopied}}, {}},
        {"Escape and Enter between files",
         kThree,
         "",
         {{kPaint, A::kPostNextFile},
          {kNext, A::kPostNextFile},
          {kCancel, A::kNone},
          {kOk, A::kNone},
          {kNext, A::kPostNextFile},
          {kCancel, A::kNone},
          {kNext, A::kEndCopied}},
         {"a", "DIR\\b", "c"}},
        {"Escape before the first paint",
         kThree,
         "",
         {{kCancel, A::kEndFailed}, {kPaint, A::kNone}, {kNext, A::kNone}},
         {}},
        {"Enter before the first paint starts one chain",
         kThree,
         "",
         {{kOk, A::kPostNextFile},
          {kPaint, A::kNone},
          {kNext, A::kPostNextFile},
          {kNext, A::kPostNextFile},
          {kNext, A::kEndCopied}},
         {"a", "DIR\\b", "c"}},
        {"a failed file ends it",
         kThree,
         "DIR\\b",
         {{kPaint, A::kPostNextFile}, {kNext, A::kPostNextFile}, {kNext, A::kEndFailed}, {kNext, A::kNone}},
         {"a", "DIR\\b"}},
        {"other commands", kThree, "", {{12345, A::kNone}, {kPaint, A::kPostNextFile}, {12345, A::kNone}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_copied.clear();
        g_failing = c.failing;
        RepairSequence sequence(c.table, Copy);
        for (size_t i = 0; i < c.steps.size(); ++i) {
            SCOPED_TRACE(i);
            const Step& step = c.steps[i];
            const RepairAction action = step.event == kPaint ? sequence.Start() : sequence.Command(step.event);
            EXPECT_EQ(action, step.action);
        }
        EXPECT_EQ(g_copied, c.copied);
    }
}

TEST(RepairSequence, OnlyACompleteCopyIsSuccess) {
    EXPECT_TRUE(RepairCompleted(kDialogCopied));
    EXPECT_FALSE(RepairCompleted(kDialogFailed));
    EXPECT_FALSE(RepairCompleted(-1));  // the dialog could not be created
}
