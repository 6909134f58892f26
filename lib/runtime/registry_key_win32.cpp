#include "runtime/registry_key.h"

#include <cstring>

#include "core/hvb.h"

namespace {

ResultCode FromStatus(LONG status) { return status == ERROR_SUCCESS ? ResultSuccess : ResultGeneralError; }

}  // namespace

ResultCode ERegistryKey::Open(HKEY parent, const char* path, REGSAM access) {
    Close();
    const LONG status = RegOpenKeyExA(parent, path, 0, access, &key_);
    if (status == ERROR_SUCCESS) open_ = 1;
    return FromStatus(status);
}

ResultCode ERegistryKey::Create(HKEY parent, const char* path, REGSAM access) {
    Close();
    char no_class[] = "";
    const LONG status =
        RegCreateKeyExA(parent, path, 0, no_class, REG_OPTION_NON_VOLATILE, access, nullptr, &key_, nullptr);
    if (status == ERROR_SUCCESS) open_ = 1;
    return FromStatus(status);
}

void ERegistryKey::Close() {
    // The system reuses a freed handle value for the next key opened: a
    // closed object must not keep reaching it.
    if (open_ && RegCloseKey(key_) == ERROR_SUCCESS) {
        open_ = 0;
        key_ = nullptr;
    }
}

ResultCode ERegistryKey::DeleteKey(HKEY parent, const char* path) { return FromStatus(RegDeleteKeyA(parent, path)); }

ResultCode ERegistryKey::DeleteValue(const char* name) { return FromStatus(RegDeleteValueA(key_, name)); }

ResultCode ERegistryKey::WriteInteger(const char* name, uint32_t value) {
    return FromStatus(RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4));
}

ResultCode ERegistryKey::WriteString(const char* name, const char* text) {
    const auto length = static_cast<DWORD>(std::strlen(text));
    return FromStatus(RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), length));
}

ResultCode ERegistryKey::WriteBinary(const char* name, const void* data, uint32_t size) {
    return FromStatus(RegSetValueExA(key_, name, 0, REG_BINARY, static_cast<const BYTE*>(data), size));
}

ResultCode ERegistryKey::WriteDouble(const char* name, double value) { return WriteBinary(name, &value, 8); }

int32_t ERegistryKey::ReadInteger(const char* name, int32_t default_value) {
    int32_t value = 0;
    DWORD size = 4;
    if (RegQueryValueExA(key_, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS) {
        return default_value;
    }
    return value;
}

uint32_t ERegistryKey::ReadBinary(const char* name, void* buffer, uint32_t size) {
    DWORD delivered = size;
    if (RegQueryValueExA(key_, name, nullptr, nullptr, static_cast<BYTE*>(buffer), &delivered) != ERROR_SUCCESS) {
        return 0;
    }
    return delivered;
}

double ERegistryKey::ReadDouble(const char* name, double default_value) {
    double value = 0;
    return ReadBinary(name, &value, 8) == 8 ? value : default_value;
}

EString ERegistryKey::ReadString(const char* name, const char* default_value) {
    EString result(default_value);
    char class_name[257];
    DWORD class_length = 256;
    DWORD longest = 0;
    LONG status = RegQueryInfoKeyA(key_, class_name, &class_length, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, &longest, nullptr, nullptr);
    if (status == ERROR_MORE_DATA) {
        // A class name longer than 256 characters: ask its length, then ask
        // again with room for it, so that the value is still read.
        class_length = 0;
        if (RegQueryInfoKeyA(key_, nullptr, &class_length, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            return result;
        }
        DWORD room = class_length + 1;
        auto* long_class = static_cast<char*>(hvbHeapAllocate(nullptr, room + 1, 0));
        if (long_class == nullptr) return result;
        status = RegQueryInfoKeyA(key_, long_class, &room, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                  &longest, nullptr, nullptr);
        hvbHeapFree(nullptr, long_class, 0);
    }
    if (status != ERROR_SUCCESS || longest > 0xFFFFFFFFu - 2) return result;

    auto* buffer = static_cast<char*>(hvbHeapAllocate(nullptr, longest + 2, HVB_HEAP_ZERO_MEMORY));
    if (buffer == nullptr) return result;
    DWORD type = 0;
    DWORD delivered = longest;
    if (RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &delivered) == ERROR_SUCCESS) {
        // A value stored without a terminator ends at the bytes delivered.
        uint32_t length = 0;
        while (length < delivered && buffer[length] != 0) ++length;
        result.Empty();
        result.Append(buffer, static_cast<int32_t>(length));
    }
    hvbHeapFree(nullptr, buffer, 0);
    return result;
}
