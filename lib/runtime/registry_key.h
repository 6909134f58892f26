// One open registry key and typed values under it: integers (REG_DWORD),
// strings (REG_SZ), raw bytes and doubles (REG_BINARY). Results are 0 for
// success and 1 for failure; a read that fails gives the caller's default.
// Win32 only.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/object.h"
#include "core/result.h"
#include "text/string.h"

#ifdef GetClassName
#undef GetClassName
#endif

class ERegistryKey : public HVBObject {
    HVB_DECLARE_CLASS(ERegistryKey, HVBObject)

public:
    ERegistryKey() = default;
    ~ERegistryKey() override { Close(); }
    ERegistryKey(const ERegistryKey&) = delete;
    ERegistryKey& operator=(const ERegistryKey&) = delete;

    // Both close first; Create opens the key when it exists.
    ResultCode Open(HKEY parent, const char* path, REGSAM access);
    ResultCode Create(HKEY parent, const char* path, REGSAM access);
    // A key whose RegCloseKey failed stays open and is closed again next time.
    void Close();
    static ResultCode DeleteKey(HKEY parent, const char* path);
    ResultCode DeleteValue(const char* name);

    ResultCode WriteInteger(const char* name, uint32_t value);
    // Stored without its terminating zero in the size.
    ResultCode WriteString(const char* name, const char* text);
    ResultCode WriteBinary(const char* name, const void* data, uint32_t size);
    ResultCode WriteDouble(const char* name, double value);

    // The stored type is not examined by any read.
    int32_t ReadInteger(const char* name, int32_t default_value);
    // Bytes delivered; 0 on failure, also when the buffer is too small.
    uint32_t ReadBinary(const char* name, void* buffer, uint32_t size);
    // The default unless exactly 8 bytes come back.
    double ReadDouble(const char* name, double default_value);
    // The value's characters up to its first zero or the bytes delivered.
    EString ReadString(const char* name, const char* default_value);

    HKEY GetKey() const { return key_; }
    bool IsOpen() const { return open_ != 0; }

private:
    HKEY key_ = nullptr;
    int32_t open_ = 0;
};
