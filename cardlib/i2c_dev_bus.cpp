// /dev/i2c-N: the one place that talks to the kernel's I2C adapter. The
// at24 driver may hold the card's address; I2C_RDWR still reaches it,
// since unlike I2C_SLAVE it does not claim the address.
#include <array>
#include <cerrno>
#include <fstream>
#include <mutex>

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "cardlib/i2c_bus.hpp"

namespace cardlib {

namespace {

constexpr std::size_t kMaxMessages = 2;

// The adapter's name as the kernel gives it, found through the device
// number, so any path to the node (a udev link) names the same adapter.
std::string adapter_name(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return "?";
    std::ifstream file("/sys/dev/char/" + std::to_string(major(st.st_rdev)) + ":" +
                       std::to_string(minor(st.st_rdev)) + "/name");
    std::string name;
    return std::getline(file, name) ? name : "?";
}

int system_open(const char *path, int flags)
{
    return ::open(path, flags);
}

int system_ioctl(int fd, unsigned long request, void *arg)
{
    return ::ioctl(fd, request, arg);
}

class I2cDevBus : public I2cBus {
  public:
    I2cDevBus(std::string path, const AdapterAccess &access)
        : path_(std::move(path)), access_(access)
    {
    }
    ~I2cDevBus() override
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    I2cDevBus(const I2cDevBus &) = delete;
    I2cDevBus &operator=(const I2cDevBus &) = delete;

    // A message the kernel would not take is refused here: its length
    // field is 16 bits wide, and a longer one must never reach it cut.
    int transfer(std::span<const I2cMessage> messages) override
    {
        if (messages.empty() || messages.size() > kMaxMessages) {
            errno = EINVAL;
            return -1;
        }
        for (const I2cMessage &message : messages)
            if (message.bytes.size() > kKernelMaxMessage) {
                errno = EMSGSIZE;
                return -1;
            }
        const int fd = open_adapter();
        if (fd < 0)
            return -1;
        std::array<i2c_msg, kMaxMessages> msgs{};
        for (std::size_t i = 0; i < messages.size(); ++i)
            msgs.at(i) = {messages[i].address, static_cast<__u16>(messages[i].read ? I2C_M_RD : 0),
                          static_cast<__u16>(messages[i].bytes.size()), messages[i].bytes.data()};
        i2c_rdwr_ioctl_data data{msgs.data(), static_cast<__u32>(messages.size())};
        const int done = access_.ioctl(fd, I2C_RDWR, &data);
        if (done < 0)
            return -1;
        if (static_cast<std::size_t>(done) != messages.size()) {
            errno = EIO;
            return -1;
        }
        return 0;
    }

    std::optional<Adapter> adapter() override
    {
        const int fd = open_adapter();
        unsigned long functions = 0;
        if (fd < 0 || access_.ioctl(fd, I2C_FUNCS, &functions) != 0)
            return std::nullopt;
        return Adapter{adapter_name(fd), (functions & I2C_FUNC_I2C) != 0, kKernelMaxMessage};
    }

  private:
    // Opened on first use, and again after a failed open: the adapter's
    // module may be loaded after the daemon started.
    int open_adapter()
    {
        const std::lock_guard guard(lock_);
        if (fd_ < 0)
            fd_ = access_.open(path_.c_str(), O_RDWR | O_CLOEXEC);
        return fd_;
    }

    std::string path_;
    const AdapterAccess &access_;
    std::mutex lock_;
    int fd_ = -1;
};

} // namespace

const AdapterAccess &system_adapter_access()
{
    static const AdapterAccess access{system_open, system_ioctl};
    return access;
}

std::unique_ptr<I2cBus> i2c_dev_bus(const std::string &path)
{
    return i2c_dev_bus(path, system_adapter_access());
}

std::unique_ptr<I2cBus> i2c_dev_bus(const std::string &path, const AdapterAccess &access)
{
    return std::make_unique<I2cDevBus>(path, access);
}

} // namespace cardlib
