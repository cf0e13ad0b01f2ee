// The driver's entry table: the 22 names the test program binds, in binding order, and the
// binding itself. Free of Qt, so that the binding also builds into a Windows console check.
#pragma once

#include <pinpad.h>

#include <type_traits>

#include "library_loader.h"

namespace shell {

// The two entries this driver does not export; their call sites fix these signatures.
using SetPasswordFn = int(PINPAD_CALL*)(int index, const char* password, unsigned int length,
                                        char* output);
using LoadKeyAuthenticateFn = int(PINPAD_CALL*)(const char* response, unsigned int length,
                                                char* output);

// 22 function pointers in binding order, all null until bound.
struct DriverEntries {
    decltype(&::PinPad_EnablePort) PinPad_EnablePort = nullptr;
    decltype(&::PinPad_DisablePort) PinPad_DisablePort = nullptr;
    decltype(&::PinPad_SetCustInfo) PinPad_SetCustInfo = nullptr;
    decltype(&::PinPad_GetCustInfo) PinPad_GetCustInfo = nullptr;
    decltype(&::PinPad_SetKeyboardValue) PinPad_SetKeyboardValue = nullptr;
    decltype(&::PinPad_SetControlCode) PinPad_SetControlCode = nullptr;
    decltype(&::PinPad_DownloadKey) PinPad_DownloadKey = nullptr;
    decltype(&::PinPad_DownloadEncryptKey) PinPad_DownloadEncryptKey = nullptr;
    decltype(&::PinPad_InitAuthorization) PinPad_InitAuthorization = nullptr;
    SetPasswordFn PinPad_SetPassword = nullptr;
    LoadKeyAuthenticateFn PinPad_LoadKeyAuthenticate = nullptr;
    decltype(&::PinPad_BidirectionalAuthorization) PinPad_BidirectionalAuthorization = nullptr;
    decltype(&::PinPad_EnablePin) PinPad_EnablePin = nullptr;
    decltype(&::PinPad_GetPinValue) PinPad_GetPinValue = nullptr;
    decltype(&::PinPad_MakeMac) PinPad_MakeMac = nullptr;
    decltype(&::PinPad_EncryptData) PinPad_EncryptData = nullptr;
    decltype(&::PinPad_TriUntriDes) PinPad_TriUntriDes = nullptr;
    decltype(&::PinPad_ReadOneByte) PinPad_ReadOneByte = nullptr;
    decltype(&::PinPad_GetChallenge) PinPad_GetChallenge = nullptr;
    decltype(&::PinPad_IC_Control) PinPad_IC_Control = nullptr;
    decltype(&::PinPad_IC_Access) PinPad_IC_Access = nullptr;
    decltype(&::PinPad_DispInfoLcd) PinPad_DispInfoLcd = nullptr;

    // Calls `visit(name, entry)` for every entry in binding order.
    template <typename Visitor>
    void ForEach(Visitor&& visit);
};

template <typename Visitor>
void DriverEntries::ForEach(Visitor&& visit) {
    visit("PinPad_EnablePort", PinPad_EnablePort);
    visit("PinPad_DisablePort", PinPad_DisablePort);
    visit("PinPad_SetCustInfo", PinPad_SetCustInfo);
    visit("PinPad_GetCustInfo", PinPad_GetCustInfo);
    visit("PinPad_SetKeyboardValue", PinPad_SetKeyboardValue);
    visit("PinPad_SetControlCode", PinPad_SetControlCode);
    visit("PinPad_DownloadKey", PinPad_DownloadKey);
    visit("PinPad_DownloadEncryptKey", PinPad_DownloadEncryptKey);
    visit("PinPad_InitAuthorization", PinPad_InitAuthorization);
    visit("PinPad_SetPassword", PinPad_SetPassword);
    visit("PinPad_LoadKeyAuthenticate", PinPad_LoadKeyAuthenticate);
    visit("PinPad_BidirectionalAuthorization", PinPad_BidirectionalAuthorization);
    visit("PinPad_EnablePin", PinPad_EnablePin);
    visit("PinPad_GetPinValue", PinPad_GetPinValue);
    visit("PinPad_MakeMac", PinPad_MakeMac);
    visit("PinPad_EncryptData", PinPad_EncryptData);
    visit("PinPad_TriUntriDes", PinPad_TriUntriDes);
    visit("PinPad_ReadOneByte", PinPad_ReadOneByte);
    visit("PinPad_GetChallenge", PinPad_GetChallenge);
    visit("PinPad_IC_Control", PinPad_IC_Control);
    visit("PinPad_IC_Access", PinPad_IC_Access);
    visit("PinPad_DispInfoLcd", PinPad_DispInfoLcd);
}

// Looks up every entry name in `library`; a name the library lacks leaves its entry null.
inline void BindEntries(loader::Handle library, DriverEntries& entries) {
    entries.ForEach([library](const char* name, auto& entry) {
        entry = reinterpret_cast<std::remove_reference_t<decltype(entry)>>(
            loader::Resolve(library, name));
    });
}

// The message pump hook of `library`, null when absent.
inline decltype(&::Lumenord_SetMessagePump) ResolveMessagePump(loader::Handle library) {
    return reinterpret_cast<decltype(&::Lumenord_SetMessagePump)>(
        loader::Resolve(library, "Lumenord_SetMessagePump"));
}

// The frame monitor hook of `library`, null when absent.
inline decltype(&::Lumenord_SetFrameMonitor) ResolveFrameMonitor(loader::Handle library) {
    return reinterpret_cast<decltype(&::Lumenord_SetFrameMonitor)>(
        loader::Resolve(library, "Lumenord_SetFrameMonitor"));
}

// The entry that tells why the calling thread's last call of `library` failed, null when absent
// (another maker's library).
inline decltype(&::Lumenord_LastFailure) ResolveLastFailure(loader::Handle library) {
    return reinterpret_cast<decltype(&::Lumenord_LastFailure)>(
        loader::Resolve(library, "Lumenord_LastFailure"));
}

}  // namespace shell
