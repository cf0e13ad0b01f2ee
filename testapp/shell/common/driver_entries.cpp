#include "driver_entries.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace shell {
namespace {

loader::Handle Open(const QString& path) {
    return loader::Open(QFile::encodeName(QDir::toNativeSeparators(path)).constData());
}

}  // namespace

DriverLibrary::~DriverLibrary() { Unload(); }

bool DriverLibrary::Load() { return Load(QCoreApplication::applicationDirPath()); }

bool DriverLibrary::Load(const QString& programFolder) {
    const QByteArray named = qgetenv("LUMENORD_LIBRARY");
    if (!named.isEmpty()) {
        m_path = QString::fromLocal8Bit(named);
        m_handle = Open(m_path);
        return m_handle != nullptr;
    }
    // The program's own folder first, as Windows does, then the system's library search; in
    // each place the names in their order.
    for (const char* name : loader::kDriverFileNames) {
        const QString besideProgram = QDir(programFolder).filePath(QString::fromLatin1(name));
        if (!QFileInfo::exists(besideProgram)) continue;
        m_path = besideProgram;
        m_handle = Open(m_path);
        if (m_handle != nullptr) return true;
    }
    for (const char* name : loader::kDriverFileNames) {
        m_path = QString::fromLatin1(name);
        m_handle = Open(m_path);
        if (m_handle != nullptr) return true;
    }
    return false;
}

void DriverLibrary::Bind(DriverEntries& entries) const { BindEntries(m_handle, entries); }

decltype(&::Lumenord_SetMessagePump) DriverLibrary::MessagePumpHook() const {
    return ResolveMessagePump(m_handle);
}

decltype(&::Lumenord_SetFrameMonitor) DriverLibrary::FrameMonitorHook() const {
    return ResolveFrameMonitor(m_handle);
}

decltype(&::Lumenord_LastFailure) DriverLibrary::LastFailureEntry() const {
    return ResolveLastFailure(m_handle);
}

void DriverLibrary::Unload() {
    loader::Close(m_handle);
    m_handle = nullptr;
}

}  // namespace shell
