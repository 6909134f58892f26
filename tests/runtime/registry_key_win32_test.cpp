// Against the real registry of the test prefix; types and sizes are read
// back with the raw registry calls.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "runtime/registry_key.h"

namespace {

const char kKey[] = "Software\\hvb-registry-key-test";

struct Stored {
    DWORD type = 0;
    DWORD size = 0;
    bool present = false;
};

Stored Inspect(HKEY key, const char* name) {
    Stored s;
    s.present = RegQueryValueExA(key, name, nullptr, &s.type, nullptr, &s.size) == ERROR_SUCCESS;
    return s;
}

}  // namespace

TEST(RegistryKeyWin32, OpenCreateClose) {
    ERegistryKey::DeleteKey(HKEY_CURRENT_USER, kKey);
    ERegistryKey key;
    key.Close();
    EXPECT_FALSE(key.IsOpen()) << "closing a closed key does nothing";
    EXPECT_EQ(key.Open(HKEY_CURRENT_USER, kKey, KEY_ALL_ACCESS), ResultGeneralError);
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(key.Create(HKEY_CURRENT_USER, kKey, KEY_ALL_ACCESS), ResultSuccess);
    EXPECT_TRUE(key.IsOpen());
    EXPECT_EQ(key.Create(HKEY_CURRENT_USER, kKey, KEY_ALL_ACCESS), ResultSuccess) << "opens an existing key";
    key.Close();
    EXPECT_EQ(key.Open(HKEY_CURRENT_USER, kKey, KEY_READ), ResultSuccess);
    key.Close();
    EXPECT_EQ(ERegistryKey::DeleteKey(HKEY_CURRENT_USER, kKey), ResultSuccess);
    EXPECT_EQ(ERegistryKey::DeleteKey(HKEY_CURRENT_USER, kKey), ResultGeneralError);
}

TEST(RegistryKeyWin32, ValuesTheirTypesAndSizes) {
    ERegistryKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, kKey, KEY_ALL_ACCESS), ResultSuccess);
    EXPECT_EQ(key.WriteInteger("seven", 7), ResultSuccess);
    EXPECT_EQ(key.WriteString("three", "abc"), ResultSuccess);
    const unsigned char four[4] = {1, 2, 3, 4};
    EXPECT_EQ(key.WriteBinary("four", four, 4), ResultSuccess);
    EXPECT_EQ(key.WriteDouble("pi", 3.25), ResultSuccess);

    // The string is passed without its terminator; the system may store
    // one after it all the same, which is its own habit.
    struct Case {
        const char* name;
        DWORD type, size, size_with_terminator;
    } cases[] = {
        {"seven", REG_DWORD, 4, 4},
        {"three", REG_SZ, 3, 4},
        {"four", REG_BINARY, 4, 4},
        {"pi", REG_BINARY, 8, 8},
    };
    for (const Case& c : cases) {
        const Stored s = Inspect(key.GetKey(), c.name);
        EXPECT_TRUE(s.present) << c.name;
        EXPECT_EQ(s.type, c.type) << c.name;
        EXPECT_TRUE(s.size == c.size || s.size == c.size_with_terminator) << c.name << ": " << s.size;
    }

    EXPECT_EQ(key.ReadInteger("seven", -1), 7);
    EXPECT_EQ(key.ReadInteger("missing", -1), -1);
    EXPECT_STREQ(key.ReadString("three", "dflt").GetString(), "abc");
    EXPECT_STREQ(key.ReadString("missing", "dflt").GetString(), "dflt");
    EXPECT_EQ(key.ReadDouble("pi", 0.5), 3.25);
    EXPECT_EQ(key.ReadDouble("four", 0.5), 0.5) << "4 bytes are not a double";
    unsigned char small[2];
    EXPECT_EQ(key.ReadBinary("four", small, 2), 0u) << "buffer too small";
    unsigned char big[16];
    EXPECT_EQ(key.ReadBinary("four", big, 16), 4u);

    // Strings end at their first zero or at the bytes delivered.
    RegSetValueExA(key.GetKey(), "cut", 0, REG_SZ, reinterpret_cast<const BYTE*>("abcdef"), 3);
    RegSetValueExA(key.GetKey(), "inner", 0, REG_BINARY, reinterpret_cast<const BYTE*>("ab\0cd"), 5);
    EXPECT_STREQ(key.ReadString("cut", "").GetString(), "abc");
    EXPECT_STREQ(key.ReadString("inner", "").GetString(), "ab");

    EXPECT_EQ(key.DeleteValue("seven"), ResultSuccess);
    EXPECT_EQ(key.DeleteValue("seven"), ResultGeneralError);
    EXPECT_EQ(key.ReadInteger("seven", -1), -1);
    key.Close();
    ERegistryKey::DeleteKey(HKEY_CURRENT_USER, kKey);
}

TEST(RegistryKeyWin32, StringUnderAKeyWithALongClassName) {
    const std::string path = std::string(kKey) + "\\long-class";
    std::string class_name(300, 'c');
    HKEY raw = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, class_name.data(), 0, KEY_ALL_ACCESS, nullptr, &raw,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(raw);
    ERegistryKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, path.c_str(), KEY_ALL_ACCESS), ResultSuccess);
    key.WriteString("name", "value");
    EXPECT_STREQ(key.ReadString("name", "dflt").GetString(), "value");
    key.Close();
    ERegistryKey::DeleteKey(HKEY_CURRENT_USER, path.c_str());
    ERegistryKey::DeleteKey(HKEY_CURRENT_USER, kKey);
}

TEST(RegistryKeyWin32, ClosedKeyReachesNoOtherKey) {
    const std::string other = std::string(kKey) + "\\other";
    ERegistryKey closed, open;
    ASSERT_EQ(closed.Create(HKEY_CURRENT_USER, kKey, KEY_ALL_ACCESS), ResultSuccess);
    closed.Close();
    // The system hands the freed handle value to the next key opened.
    ASSERT_EQ(open.Create(HKEY_CURRENT_USER, other.c_str(), KEY_ALL_ACCESS), ResultSuccess);
    EXPECT_EQ(closed.WriteInteger("stray", 1), ResultGeneralError);
    EXPECT_EQ(closed.WriteString("stray", "x"), ResultGeneralError);
    EXPECT_EQ(closed.DeleteValue("stray"), ResultGeneralError);
    EXPECT_EQ(closed.ReadInteger("stray", -1), -1);
    EXPECT_FALSE(Inspect(open.GetKey(), "stray").present);
    open.Close();
    ERegistryKey::DeleteKey(HKEY_CURRENT_USER, other.c_str());
    ERegistryKey::DeleteKey(HKEY_CURRENT_USER, kKey);
}
