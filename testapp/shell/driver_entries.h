// The driver's entry table, bound by name from the library loaded at start-up.
#pragma once

#include <pinpad.h>

#include <QString>

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

// The loaded driver library: owns the handle, binds the table, unloads on destruction.
class DriverLibrary {
public:
    DriverLibrary() = default;
    ~DriverLibrary();
    DriverLibrary(const DriverLibrary&) = delete;
    DriverLibrary& operator=(const DriverLibrary&) = delete;

    // Loads the file named by LUMENORD_LIBRARY, or else libLumenord.so from the program's own
    // directory and then by the normal library search. Returns false when nothing loads.
    bool Load();
    bool IsLoaded() const { return m_handle != nullptr; }
    QString LoadedPath() const { return m_path; }

    // Looks up every entry name; a name the library lacks leaves its entry null.
    void Bind(DriverEntries& entries) const;
    // Looks up the message pump hook, null when absent.
    decltype(&::Lumenord_SetMessagePump) MessagePumpHook() const;

    void Unload();

private:
    void* Resolve(const char* name) const;

    void* m_handle = nullptr;
    QString m_path;
};

}  // namespace shell
