// src/platform/win32/ProfileStoreWin32.cpp
#include <windows.h>

#include <cstring>
#include <vector>

#include "platform/ProfileStore.h"
#include "platform/win32/TextWin32.h"

namespace platform {

std::optional<StoredValue> ReadUserRegistryValue(const std::string& organisation,
                                                 const std::string& application,
                                                 const std::string& section,
                                                 const std::string& name) {
    const std::wstring path =
        win32text::Utf8ToWide("Software\\" + organisation + "\\" + application + "\\" + section);
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    const std::wstring valueName = win32text::Utf8ToWide(name);
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
                value.text = win32text::WideToUtf8(text);
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
