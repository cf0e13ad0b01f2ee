// The driver library loaded at start-up: where it is looked for, and its entry table bound.
#pragma once

#include <QString>

#include "entry_table.h"

namespace shell {

// The loaded driver library: owns the handle, binds the table, unloads on destruction.
class DriverLibrary {
public:
    DriverLibrary() = default;
    ~DriverLibrary();
    DriverLibrary(const DriverLibrary&) = delete;
    DriverLibrary& operator=(const DriverLibrary&) = delete;

    // Loads the file named by LUMENORD_LIBRARY, or else the driver (libLumenord.so.1, then
    // libLumenord.so; Lumenord.dll) from the program's own directory and then by the system's
    // library search.
    // Returns false when nothing loads.
    bool Load();
    // The same with `programFolder` in place of the program's own directory.
    bool Load(const QString& programFolder);
    bool IsLoaded() const { return m_handle != nullptr; }
    QString LoadedPath() const { return m_path; }

    // Looks up every entry name; a name the library lacks leaves its entry null.
    void Bind(DriverEntries& entries) const;
    // Looks up the message pump hook, null when absent.
    decltype(&::Lumenord_SetMessagePump) MessagePumpHook() const;
    // Looks up the frame monitor hook, null when absent.
    decltype(&::Lumenord_SetFrameMonitor) FrameMonitorHook() const;
    // Looks up the entry that tells why the last call failed, null when absent.
    decltype(&::Lumenord_LastFailure) LastFailureEntry() const;

    void Unload();

private:
    loader::Handle m_handle = nullptr;
    QString m_path;
};

}  // namespace shell
