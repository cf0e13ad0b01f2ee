#include "driver_entries.h"

#include <dlfcn.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace shell {
namespace {

constexpr const char* kLibraryFileName = "libLumenord.so";

void* Open(const QString& path) {
    return dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
}

}  // namespace

DriverLibrary::~DriverLibrary() { Unload(); }

bool DriverLibrary::Load() {
    const QByteArray named = qgetenv("LUMENORD_LIBRARY");
    if (!named.isEmpty()) {
        m_path = QString::fromLocal8Bit(named);
        m_handle = Open(m_path);
        return m_handle != nullptr;
    }
    const QString besideProgram =
        QDir(QCoreApplication::applicationDirPath()).filePath(QLatin1String(kLibraryFileName));
    if (QFileInfo::exists(besideProgram)) {
        m_path = besideProgram;
        m_handle = Open(m_path);
    }
    if (m_handle == nullptr) {
        m_path = QLatin1String(kLibraryFileName);
        m_handle = Open(m_path);
    }
    return m_handle != nullptr;
}

void* DriverLibrary::Resolve(const char* name) const {
    return m_handle != nullptr ? dlsym(m_handle, name) : nullptr;
}

void DriverLibrary::Bind(DriverEntries& entries) const {
    entries.ForEach([this](const char* name, auto& entry) {
        entry = reinterpret_cast<std::remove_reference_t<decltype(entry)>>(Resolve(name));
    });
}

decltype(&::Lumenord_SetMessagePump) DriverLibrary::MessagePumpHook() const {
    return reinterpret_cast<decltype(&::Lumenord_SetMessagePump)>(
        Resolve("Lumenord_SetMessagePump"));
}

void DriverLibrary::Unload() {
    if (m_handle != nullptr) {
        dlclose(m_handle);
        m_handle = nullptr;
    }
}

}  // namespace shell
