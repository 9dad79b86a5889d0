#pragma once
// Windows only: a file's security settings set from SDDL text, for tests of what a private
// file is. (SDDL: "D:P" a protected list of entries, "(A;;FA;;;<sid>)" full access for an
// account, WD everyone, SY the system.)

#ifdef _WIN32

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <sddl.h>

#include <memory>
#include <string>

namespace tarvolen::testing {

// The SID of the account the test runs as, as SDDL text; empty when it cannot be read.
inline std::wstring currentUserSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::unique_ptr<char[]> buffer(new char[size]);
    std::wstring text;
    if (GetTokenInformation(token, TokenUser, buffer.get(), size, &size)) {
        wchar_t* sid = nullptr;
        if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid, &sid)) {
            text = sid;
            LocalFree(sid);
        }
    }
    CloseHandle(token);
    return text;
}

// Gives an existing file exactly the access entries of `sddl`; false when it cannot.
inline bool setFileSecurity(const std::string& file, const std::wstring& sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return false;
    const bool set = SetFileSecurityA(file.c_str(), DACL_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
    return set;
}

}  // namespace tarvolen::testing

#endif
