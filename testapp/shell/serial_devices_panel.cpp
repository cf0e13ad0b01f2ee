#include "serial_devices_panel.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QFormLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include "dialogs.h"
#include "file_io.h"
#include "page_layout.h"
#include "port_args.h"
#include "profile.h"
#include "profile_text.h"

namespace shell {
namespace {

constexpr const char* kSettingsFile = "./sysconfig.ini";
// Ports beyond this are listed for a device only when chosen above; nobody maps more.
constexpr int kMaxListedPort = 255;
// udev adds a node first and its persistent names a moment later: one look after both.
constexpr int kRefreshDelayMs = 300;

// Mapped paths come from a file anyone may have edited: shown cut, and only so many of them,
// so that the page keeps its layout.
constexpr int kShownPathLength = 80;
constexpr int kShownMappings = 6;

QString Text(const std::string& text) { return QString::fromStdString(text); }

// What the panel shows where the settings file is needed but cannot be read.
QString UnreadableSettingsText() {
    return QStringLiteral("unknown: %1 does not read whole").arg(QLatin1String(kSettingsFile));
}

QString ShownPath(const std::string& path) {
    const QString text = Text(path);
    return text.size() <= kShownPathLength ? text : text.left(kShownPathLength - 1) + QChar(0x2026);
}

QString PortNames(const std::vector<int>& ports) {
    QStringList names;
    for (int port : ports) names << QStringLiteral("com%1").arg(port);
    return names.join(QStringLiteral(", "));
}

// A device as the operator knows it: its persistent name when it has one, else its node.
std::string PreferredPath(const platform::SerialDevice& device) {
    return device.byIdLinks.empty() ? device.node : device.byIdLinks.front();
}

QTreeWidgetItem* DeviceItem(const platform::SerialDevice& device, const QString& ports) {
    const QString usbId =
        device.vendorId.empty() ? QString() : Text(device.vendorId + ":" + device.productId);
    QStringList byId;
    for (const std::string& link : device.byIdLinks) byId << Text(link);
    auto* item = new QTreeWidgetItem(QStringList{
        Text(device.node), ports, usbId, Text(device.manufacturer), Text(device.product),
        Text(device.serialNumber), Text(device.driver), byId.join(QStringLiteral(", "))});
    item->setToolTip(7, byId.join(QLatin1Char('\n')));
    return item;
}

}  // namespace

SerialDevicesPanel::SerialDevicesPanel(QComboBox* portCombo, QWidget* parent)
    : QGroupBox(QStringLiteral("Serial devices"), parent),
      m_portCombo(portCombo),
      m_root(platform::SerialDeviceRoot()) {
    setObjectName(QStringLiteral("groupSerialDevices"));
    labelPortDevice = Named<QLabel>("labelPortDevice", this);
    labelMappedPorts = Named<QLabel>("labelMappedPorts", this);
    for (QLabel* label : {labelPortDevice, labelMappedPorts}) {
        label->setTextFormat(Qt::PlainText);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    labelMappedPorts->setWordWrap(true);
    listSerialDevices = Named<QTreeWidget>("listSerialDevices", this);
    listSerialDevices->setRootIsDecorated(false);
    listSerialDevices->setAllColumnsShowFocus(true);
    listSerialDevices->setHeaderLabels({"Device", "Com ports", "USB id", "Manufacturer", "Product",
                                        "Serial number", "Driver", "By-id name"});
    listSerialDevices->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    btMapDevice = Named<QPushButton>("btMapDevice", this, QStringLiteral("Map to com port"));

    auto* form = new QFormLayout;
    form->addRow(MakeResultCaption(QStringLiteral("Com port opens:"), labelPortDevice, this),
                 labelPortDevice);
    form->addRow(MakeResultCaption(QStringLiteral("Mapped ports:"), labelMappedPorts, this),
                 labelMappedPorts);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(MakeCaption(QStringLiteral("Devices present:"), listSerialDevices, this));
    layout->addWidget(listSerialDevices, 1);
    layout->addWidget(btMapDevice, 0, Qt::AlignRight);

    connect(btMapDevice, &QPushButton::clicked, this, &SerialDevicesPanel::btMapDeviceClick);
    // Queued: mapping refreshes the list, which deletes the item the signal is about.
    connect(listSerialDevices, &QTreeWidget::itemActivated, this,
            &SerialDevicesPanel::btMapDeviceClick, Qt::QueuedConnection);
    connect(listSerialDevices, &QTreeWidget::itemSelectionChanged, this,
            &SerialDevicesPanel::UpdateMapButton);
    connect(m_portCombo, &QComboBox::currentTextChanged, this, [this] {
        // Both lines from one reading, so that they never disagree about the file.
        const std::optional<std::string> settings = ReadSettings();
        ShowMappedPorts(settings);
        ShowPortDevice(settings);
        UpdateMapButton();
    });
    m_refreshDelay.setSingleShot(true);
    m_refreshDelay.setInterval(kRefreshDelayMs);
    connect(&m_refreshDelay, &QTimer::timeout, this, &SerialDevicesPanel::Refresh);
    m_settingsFolder = QFileInfo(QLatin1String(kSettingsFile)).absolutePath();
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this](const QString& path) {
        // Other files of the working folder (the trace, the key store) change often.
        if (path == m_settingsFolder) return SettingsMayHaveChanged();
        m_refreshDelay.start();
    });
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this,
            &SerialDevicesPanel::SettingsMayHaveChanged);
    Refresh();
}

// /dev changes when a node comes or goes, /dev/serial/by-id when a USB adapter does; the
// by-id folder itself comes and goes with the first and last adapter.
void SerialDevicesPanel::WatchDeviceFolders() {
    const QString root = Text(m_root == "/" ? std::string() : m_root);
    for (const QString& folder : {root + "/dev", root + "/dev/serial", root + "/dev/serial/by-id"})
        if (QFileInfo(folder).isDir() && !m_watcher.directories().contains(folder))
            m_watcher.addPath(folder);
}

std::optional<std::string> SerialDevicesPanel::ReadSettings() const {
    if (!platform::IsProfileReadable(kSettingsFile)) return std::nullopt;
    return platform::ReadRegularFile(kSettingsFile, platform::kMaxProfileFileSize);
}

void SerialDevicesPanel::WatchSettings() {
    if (QFileInfo(m_settingsFolder).isDir() && !m_watcher.directories().contains(m_settingsFolder))
        m_watcher.addPath(m_settingsFolder);
    // A file replaced by a rename is a new file: watched again on each refresh.
    const QString file = QFileInfo(QLatin1String(kSettingsFile)).absoluteFilePath();
    if (QFileInfo::exists(file) && !m_watcher.files().contains(file)) m_watcher.addPath(file);
}

QString SerialDevicesPanel::SettingsStamp() const {
    const QFileInfo file{QLatin1String(kSettingsFile)};
    if (!file.exists()) return QStringLiteral("none");
    return QStringLiteral("%1 %2 %3 %4 %5")
        .arg(file.isFile())
        .arg(file.size())
        .arg(file.lastModified().toMSecsSinceEpoch())
        .arg(static_cast<int>(file.permissions()))
        .arg(file.isSymLink() ? file.symLinkTarget() : QString());
}

void SerialDevicesPanel::SettingsMayHaveChanged() {
    if (SettingsStamp() != m_settingsStamp) m_refreshDelay.start();
}

void SerialDevicesPanel::Refresh() {
    WatchDeviceFolders();
    WatchSettings();
    m_settingsStamp = SettingsStamp();
    const QTreeWidgetItem* selected = listSerialDevices->currentItem();
    const QString selectedNode = selected != nullptr ? selected->text(0) : QString();
    m_devices = platform::ListSerialDevices(m_root);
    const std::optional<std::string> settings = ReadSettings();
    listSerialDevices->clear();
    for (const platform::SerialDevice& device : m_devices) {
        const QString ports =
            settings ? PortNames(platform::PortsOpening(*settings, device, kMaxListedPort))
                     : QString();
        QTreeWidgetItem* item = DeviceItem(device, ports);
        listSerialDevices->addTopLevelItem(item);
        if (item->text(0) == selectedNode) listSerialDevices->setCurrentItem(item);
    }
    ShowMappedPorts(settings);
    ShowPortDevice(settings);
    UpdateMapButton();
}

void SerialDevicesPanel::ShowMappedPorts(const std::optional<std::string>& settings) {
    if (!settings) {
        ShowResultText(labelMappedPorts, UnreadableSettingsText());
        return;
    }
    const auto ports = platform::MappedPorts(*settings, kMaxListedPort);
    QStringList mapped;
    for (const auto& [port, path] : ports) {
        if (mapped.size() == kShownMappings) {
            mapped << QStringLiteral("%1 more").arg(ports.size() - kShownMappings);
            break;
        }
        mapped << QStringLiteral("com%1 = %2").arg(port).arg(ShownPath(path));
    }
    ShowResultText(labelMappedPorts,
                   mapped.isEmpty() ? QStringLiteral("none") : mapped.join(QStringLiteral("; ")));
}

// A device outside the list (a pseudo-terminal, say) is present when its path is there.
bool SerialDevicesPanel::IsPresent(const std::string& path) const {
    for (const platform::SerialDevice& device : m_devices)
        if (platform::NamesDevice(device, path)) return true;
    if (path.empty()) return false;
    // A relative path is relative to the current folder, where the driver opens it.
    const std::string root = path.front() == '/' && m_root != "/" ? m_root : std::string();
    return QFileInfo::exists(Text(root + path));
}

void SerialDevicesPanel::ShowPortDevice(const std::optional<std::string>& settings) {
    const int port = PortNumberOfName(m_portCombo->currentText());
    if (port == 0) {
        ShowResultText(labelPortDevice, QStringLiteral("no port"));
    } else if (!settings) {
        ShowResultText(labelPortDevice, UnreadableSettingsText());
    } else {
        const std::string path = platform::PortDevicePath(*settings, port);
        ShowResultText(
            labelPortDevice,
            ShownPath(path) + (IsPresent(path) ? QString() : QStringLiteral(" (not present)")));
    }
}

void SerialDevicesPanel::UpdateMapButton() {
    btMapDevice->setEnabled(listSerialDevices->currentItem() != nullptr &&
                            PortNumberOfName(m_portCombo->currentText()) != 0);
}

void SerialDevicesPanel::btMapDeviceClick() {
    const int row = listSerialDevices->indexOfTopLevelItem(listSerialDevices->currentItem());
    const int port = PortNumberOfName(m_portCombo->currentText());
    if (row < 0 || row >= static_cast<int>(m_devices.size()) || port == 0) return;
    const std::string key = "COM" + std::to_string(port);
    const std::string path = PreferredPath(m_devices[static_cast<std::size_t>(row)]);
    const platform::WriteResult result =
        platform::WriteProfileEntry({"PORTS", key, path}, kSettingsFile);
    if (!result.ok()) {
        ShowDialog({QCoreApplication::applicationName(),
                    QStringLiteral("%1 could not be written: %2")
                        .arg(QLatin1String(kSettingsFile), Text(result.Reason())),
                    QMessageBox::Warning, QMessageBox::Ok});
    }
    Refresh();
}

}  // namespace shell
