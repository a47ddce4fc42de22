// The D2XX library on Windows: ftd2xx.dll from the folder that holds the module this code is in
// (usb3k.dll), then from the system's safe search folders, where FTDI's installer puts it. Never
// from the current folder, where anyone may plant a DLL.
#include <windows.h>

#include <string>

#include "d2xx/shared_library.h"

namespace {

constexpr wchar_t DLL_NAME[] = L"ftd2xx.dll";

std::string lastError() {
    const DWORD code = GetLastError();
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string reason = "error " + std::to_string(code);
    if (length > 0 && text != nullptr) {
        std::string message(text, length);
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
            message.pop_back();
        }
        reason += ": " + message;
    }
    LocalFree(text);
    return reason;
}

// The folder of the module that holds this code, ending in a backslash; empty when unknown.
std::wstring ownFolder() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&ownFolder), &module)) {
        return std::wstring();
    }
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return std::wstring();
    }
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

}  // namespace

namespace shared_library {

Handle openD2xx(std::string& reason) {
    const std::wstring besideUs = ownFolder() + DLL_NAME;
    if (GetFileAttributesW(besideUs.c_str()) != INVALID_FILE_ATTRIBUTES) {
        if (HMODULE library =
                LoadLibraryExW(besideUs.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)) {
            return library;
        }
    }
    if (HMODULE library = LoadLibraryExW(DLL_NAME, nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)) {
        return library;
    }
    reason = "ftd2xx.dll: " + lastError();
    return nullptr;
}

void* find(Handle library, const char* name, std::string& reason) {
    FARPROC address = GetProcAddress(static_cast<HMODULE>(library), name);
    if (address == nullptr) {
        reason = std::string(name) + ": " + lastError();
        return nullptr;
    }
    // Through an integer: a FARPROC converted straight to void* draws a warning.
    return reinterpret_cast<void*>(reinterpret_cast<INT_PTR>(address));
}

}  // namespace shared_library
