// src/platform/win32/ProfileStoreWin32.cpp
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstring>
#include <vector>

#include "platform/ProfileStore.h"

namespace platform {
namespace {

std::wstring Utf8ToWide(const std::string& utf8) {
    const int length =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) {
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                              length);
    }
    return wide;
}

std::string WideToUtf8(const std::wstring& wide) {
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                             nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(),
                              length, nullptr, nullptr);
    }
    return utf8;
}

}  // namespace

std::optional<StoredValue> ReadUserRegistryValue(const std::string& organisation,
                                                 const std::string& application,
                                                 const std::string& section,
                                                 const std::string& name) {
    const std::wstring path =
        Utf8ToWide("Software\\" + organisation + "\\" + application + "\\" + section);
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    const std::wstring valueName = Utf8ToWide(name);
    DWORD type = 0;
    DWORD size = 0;
    std::optional<StoredValue> result;
    if (::RegQueryValueExW(key, valueName.c_str(), nullptr, &type, nullptr, &size) ==
            ERROR_SUCCESS &&
        size <= 1024 * 1024) {
        std::vector<BYTE> data(size + sizeof(wchar_t));  // room for a missing terminator
        if (::RegQueryValueExW(key, valueName.c_str(), nullptr, &type, data.data(), &size) ==
            ERROR_SUCCESS) {
            StoredValue value;
            if ((type == REG_SZ || type == REG_EXPAND_SZ)) {
                std::wstring text(reinterpret_cast<const wchar_t*>(data.data()),
                                  size / sizeof(wchar_t));
                while (!text.empty() && text.back() == L'\0') {
                    text.pop_back();
                }
                value.text = WideToUtf8(text);
                result = value;
            } else if (type == REG_DWORD && size == sizeof(DWORD)) {
                DWORD number = 0;
                std::memcpy(&number, data.data(), sizeof number);
                // Stored from a signed int.
                value.number = static_cast<int32_t>(number);
                result = value;
            } else if (type == REG_QWORD && size == sizeof(ULONGLONG)) {
                ULONGLONG number = 0;
                std::memcpy(&number, data.data(), sizeof number);
                value.number = static_cast<int64_t>(number);
                result = value;
            }
        }
    }
    ::RegCloseKey(key);
    return result;
}

std::string UserSettingsFile(const std::string& /*organisation*/,
                             const std::string& /*application*/) {
    return {};
}

}  // namespace platform
