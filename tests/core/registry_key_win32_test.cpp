// Against the real registry of the test prefix; types and sizes are read
// back with the raw registry calls and with the system's reg tool.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "core/registry_key.h"

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

std::string RegQuery(const std::string& key) {
    std::string out;
    FILE* pipe = _popen(("reg query \"HKCU\\" + key + "\" 2>NUL").c_str(), "r");
    if (pipe == nullptr) return out;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) out += line;
    _pclose(pipe);
    return out;
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

    struct Case {
        const char* name;
        DWORD type, size;
        const char* reg_type;
    } cases[] = {
        {"seven", REG_DWORD, 4, "REG_DWORD"},
        {"three", REG_SZ, 3, "REG_SZ"},
        {"four", REG_BINARY, 4, "REG_BINARY"},
        {"pi", REG_BINARY, 8, "REG_BINARY"},
    };
    const std::string listing = RegQuery(kKey);
    for (const Case& c : cases) {
        const Stored s = Inspect(key.GetKey(), c.name);
        EXPECT_TRUE(s.present) << c.name;
        EXPECT_EQ(s.type, c.type) << c.name;
        EXPECT_EQ(s.size, c.size) << c.name;
        const size_t at = listing.find(std::string(c.name) + " ");
        ASSERT_NE(at, std::string::npos) << c.name << " missing from:\n" << listing;
        EXPECT_EQ(listing.compare(listing.find_first_not_of(' ', at + std::strlen(c.name)), std::strlen(c.reg_type),
                                  c.reg_type),
                  0)
            << listing;
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
