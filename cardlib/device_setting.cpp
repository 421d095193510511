#include "cardlib/device_setting.hpp"

#include <charconv>
#include <cstdio>

#include "cardlib/at24_device.hpp"
#include "cardlib/i2c_eeprom_device.hpp"

namespace cardlib {

namespace {

constexpr std::string_view kI2cPrefix = "i2c:";
constexpr std::string_view kAt24Prefix = "at24:";
constexpr std::string_view kI2cDev = "/dev/i2c-";

std::optional<std::uint16_t> parse_address(std::string_view text)
{
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end != text.data() + text.size() || text.empty() || value < 0x03 ||
        value > 0x77)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

// The i2c-dev form: PATH[@ADDR].
std::optional<DeviceSetting> i2c_setting(std::string_view text, std::string &error)
{
    DeviceSetting setting;
    const std::size_t at = text.rfind('@');
    setting.path = std::string(text.substr(0, at));
    if (at != std::string_view::npos) {
        const auto address = parse_address(text.substr(at + 1));
        if (!address) {
            error = "bad I2C address " + std::string(text.substr(at + 1)) +
                    " (0x03 to 0x77, e.g. 0x53)";
            return std::nullopt;
        }
        setting.address = *address;
    }
    if (setting.path.empty()) {
        error = "no i2c-dev path (e.g. /dev/i2c-1@0x53)";
        return std::nullopt;
    }
    return setting;
}

} // namespace

std::string DeviceSetting::name() const
{
    if (kind == Kind::at24)
        return path;
    char text[16];
    std::snprintf(text, sizeof text, "@0x%02x", address);
    return path + text;
}

std::optional<DeviceSetting> parse_device_setting(std::string_view text, std::string &error)
{
    if (text.starts_with(kI2cPrefix))
        return i2c_setting(text.substr(kI2cPrefix.size()), error);
    if (text.starts_with(kI2cDev))
        return i2c_setting(text, error);
    if (text.starts_with(kAt24Prefix))
        text.remove_prefix(kAt24Prefix.size());
    if (text.empty()) {
        error = "no device path";
        return std::nullopt;
    }
    DeviceSetting setting;
    setting.kind = DeviceSetting::Kind::at24;
    setting.path = std::string(text);
    return setting;
}

namespace {

// True for an at24 client's directory name, "<bus>-<4 hex digits of
// address>", with the bus number in `bus`.
bool client_name(std::string_view name, unsigned &bus)
{
    const std::size_t dash = name.find('-');
    if (dash == std::string_view::npos || dash == 0 || name.size() != dash + 5)
        return false;
    const auto [stop, failed] = std::from_chars(name.data(), name.data() + dash, bus);
    return failed == std::errc() && stop == name.data() + dash;
}

} // namespace

std::string bus_of(const DeviceSetting &setting)
{
    if (setting.kind == DeviceSetting::Kind::i2c_dev)
        return setting.path;
    const std::string_view path = setting.path;
    for (std::size_t start = 0; start < path.size();) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        unsigned bus = 0;
        if (client_name(path.substr(start, end - start), bus))
            return std::string(kI2cDev) + std::to_string(bus);
        start = end + 1;
    }
    return {};
}

namespace {

// An i2c-dev device with the bus it owns.
class OwnedBusDevice : public I2cEepromDevice {
  public:
    OwnedBusDevice(std::unique_ptr<I2cBus> bus, std::uint16_t address, const EepromPart &part)
        : I2cEepromDevice(*bus, address, part), bus_(std::move(bus))
    {
    }

  private:
    std::unique_ptr<I2cBus> bus_;
};

} // namespace

std::unique_ptr<EepromDevice> open_device(const DeviceSetting &setting, const EepromPart &part)
{
    if (setting.kind == DeviceSetting::Kind::at24)
        return std::make_unique<At24Device>(setting.path, part);
    return std::make_unique<OwnedBusDevice>(i2c_dev_bus(setting.path), setting.address, part);
}

} // namespace cardlib
