// The serial devices present, beside the "Commu para" page's port settings: which device the
// chosen com port opens, the devices with the ports that open them, and mapping one of them to
// the chosen port in ./sysconfig.ini.
#pragma once

#include <QComboBox>
#include <QFileSystemWatcher>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <optional>
#include <string>
#include <vector>

#include "serial_devices.h"

namespace shell {

class SerialDevicesPanel : public QGroupBox {
    Q_OBJECT
public:
    // `portCombo` gives the com port that the panel shows and maps.
    SerialDevicesPanel(QComboBox* portCombo, QWidget* parent = nullptr);

    // Reads the devices and the settings again.
    void Refresh();
    // Maps the selected device to the chosen com port.
    void btMapDeviceClick();

private:
    void WatchDeviceFolders();
    // Watches the settings file and the folder it is looked for in: an edit, a replacement, a
    // removal or a change of its permissions refreshes the panel.
    void WatchSettings();
    // What tells one state of the settings file from another: existence, kind, size, time and
    // permissions.
    QString SettingsStamp() const;
    void SettingsMayHaveChanged();
    // The device the chosen com port opens by `settings` (none when they cannot be read).
    void ShowPortDevice(const std::optional<std::string>& settings);
    void ShowMappedPorts(const std::optional<std::string>& settings);
    bool IsPresent(const std::string& path) const;
    void UpdateMapButton();
    std::optional<std::string> ReadSettings() const;

    QComboBox* m_portCombo;
    std::string m_root;
    std::vector<platform::SerialDevice> m_devices;
    QLabel* labelPortDevice;
    QLabel* labelMappedPorts;
    QTreeWidget* listSerialDevices;
    QPushButton* btMapDevice;
    QFileSystemWatcher m_watcher;
    QString m_settingsFolder;
    QString m_settingsStamp;
    QTimer m_refreshDelay;
};

}  // namespace shell
