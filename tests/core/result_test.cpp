#include <gtest/gtest.h>

#include <cstring>

#include "core/result.h"

TEST(ResultText, StandardCodesAndMessages) {
    EXPECT_STREQ(GetResultText(ResultSuccess), "関数は成功しました。");
    EXPECT_STREQ(GetResultText(6), "処理は継続中です。");
    EXPECT_STREQ(GetResultText(-1), "未対応の機能を利用しようとしました。");
    EXPECT_STREQ(GetResultText(7), "未知のエラーコードです。");
    EXPECT_STREQ(GetResultText(0xFFFF), "未知のエラーコードです。");
    EXPECT_EQ(GetResultText(0x00400000), reinterpret_cast<const char*>(0x00400000));
    static const char kMessage[] = "読めません。";
    EXPECT_EQ(GetResultText(MessageResult(kMessage)), kMessage);
}

TEST(ResultText, LiteralsAreShiftJis) {
    // "関" is 0x8AD6 in code page 932.
    const char* text = GetResultText(ResultSuccess);
    EXPECT_EQ(static_cast<unsigned char>(text[0]), 0x8A);
    EXPECT_EQ(static_cast<unsigned char>(text[1]), 0xD6);
}
