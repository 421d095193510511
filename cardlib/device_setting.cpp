#include "cardlib/device_setting.hpp"

#include <charconv>
#include <cstdio>

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

} // namespace cardlib
