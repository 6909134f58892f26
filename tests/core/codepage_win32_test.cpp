#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

// The tests run with the ANSI code page of the target systems, so that the
// CP932 bytes of our literals are what Windows shows and compares.
TEST(Win32Environment, AnsiCodePageIs932) {
    EXPECT_EQ(GetACP(), 932u);
    const char text[] = "メモリ";
    wchar_t wide[8] = {};
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 8), 4);
    EXPECT_EQ(wide[0], 0x30E1);
    EXPECT_EQ(wide[1], 0x30E2);
    EXPECT_EQ(wide[2], 0x30EA);
    EXPECT_TRUE(IsDBCSLeadByte(static_cast<BYTE>(text[0])));
}
