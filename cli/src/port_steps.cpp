// The serial devices present and the ports that open them, which needs no pad.
#include "file_io.h"
#include "profile.h"
#include "profile_text.h"
#include "serial_devices.h"
#include "step_commands.h"

namespace cli {
namespace {

constexpr const char* kSettingsFile = "./sysconfig.ini";
// Port names travel in a field of ten bytes: "com" and at most six digits, but nobody maps more
// ports than this.
constexpr int kMaxListedPort = 255;

std::string PortName(int port) { return "com" + std::to_string(port); }

Json DeviceJson(const platform::SerialDevice& device, const std::string& settings) {
    Json ports = Json::array();
    for (int port : platform::PortsOpening(settings, device, kMaxListedPort))
        ports.push_back(PortName(port));
    return {{"node", device.node},
            {"by_id", device.byIdLinks},
            {"driver", device.driver},
            {"vendor_id", device.vendorId},
            {"product_id", device.productId},
            {"manufacturer", device.manufacturer},
            {"product", device.product},
            {"serial", device.serialNumber},
            {"ports", std::move(ports)}};
}

StepOutcome RunPorts(const NoArguments&, StepContext&) {
    StepOutcome outcome;
    // The driver refuses to open a port when the settings file is there but does not read whole;
    // a list built from a part of it would say what the driver does not do.
    const std::optional<std::string> settings =
        platform::IsProfileReadable(kSettingsFile)
            ? platform::ReadRegularFile(kSettingsFile, platform::kMaxProfileFileSize)
            : std::nullopt;
    if (!settings) {
        outcome.message = std::string(kSettingsFile) + " is there but does not read whole";
        return outcome;
    }
    Json devices = Json::array();
    for (const platform::SerialDevice& device :
         platform::ListSerialDevices(platform::SerialDeviceRoot()))
        devices.push_back(DeviceJson(device, *settings));
    Json mapped = Json::object();
    for (const auto& [port, path] : platform::MappedPorts(*settings, kMaxListedPort))
        mapped[PortName(port)] = path;
    outcome.ok = true;
    outcome.reply["devices"] = std::move(devices);
    outcome.reply["mapped"] = std::move(mapped);
    return outcome;
}

Step BuildPorts(const NoArguments& arguments) {
    Step step = MakeStep("ports", RunPorts, arguments);
    step.needsPad = false;
    return step;
}

}  // namespace

void AddPortCommands(CLI::App& app, StepSlot& slot) {
    AddStepCommand(app, slot, "ports",
                   "the serial devices present and the comN that open them, no pad needed",
                   DeclareNoArguments, BuildPorts);
}

}  // namespace cli
