// Linux back end of the kernel, its only folder that calls the system: portable kernel files use
// the C and C++ libraries and ICU only; system calls, /proc, glibc extensions and ABI calls live here.

#include "toolbox/kernel/linux/XLinuxSystemInfo.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <map>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace zorn
{

namespace
{

// A whole small file of /proc or /sys (those report a size of 0, so read to the end), at most 4 MiB.
bool ReadText(const std::string& inPath, std::string& outText)
{
    const int file = ::open(inPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0)
    {
        return false;
    }
    outText.clear();
    char buffer[8192];
    ssize_t count;
    while ((count = ::read(file, buffer, sizeof(buffer))) != 0)
    {
        if (count < 0)
        {
            if (errno == EINTR)
            {
                continue;
            }
            break;
        }
        outText.append(buffer, static_cast<size_t>(count));
        if (outText.size() > (4u << 20))
        {
            break;
        }
    }
    ::close(file);
    return count == 0;
}

std::string_view Trim(std::string_view inText)
{
    const size_t first = inText.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
    {
        return {};
    }
    return inText.substr(first, inText.find_last_not_of(" \t\r\n") - first + 1);
}

// The first line of a small sysfs file, trimmed; empty when it cannot be read.
std::string ReadField(const std::string& inPath)
{
    std::string text;
    if (!ReadText(inPath, text))
    {
        return {};
    }
    return std::string(Trim(text.substr(0, text.find('\n'))));
}

template <typename Visit>
void ForEachLine(std::string_view inText, Visit inVisit)
{
    while (!inText.empty())
    {
        const size_t end = inText.find('\n');
        inVisit(inText.substr(0, end));
        inText = end == std::string_view::npos ? std::string_view() : inText.substr(end + 1);
    }
}

// The blank-separated words of a line.
std::vector<std::string_view> Words(std::string_view inLine)
{
    std::vector<std::string_view> words;
    size_t start = 0;
    while ((start = inLine.find_first_not_of(" \t", start)) != std::string_view::npos)
    {
        const size_t end = inLine.find_first_of(" \t", start);
        words.push_back(inLine.substr(start, end == std::string_view::npos ? end : end - start));
        start = end;
    }
    return words;
}

// A decimal number that fits 64 bits, nothing else.
bool ParseUnsigned(std::string_view inText, uint64_t& outValue)
{
    if (inText.empty() || inText.size() > 20)
    {
        return false;
    }
    uint64_t value = 0;
    for (char c : inText)
    {
        if (c < '0' || c > '9')
        {
            return false;
        }
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10)
        {
            return false;
        }
        value = value * 10 + digit;
    }
    outValue = value;
    return true;
}

bool ParseHex(std::string_view inText, uintptr_t& outValue)
{
    if (inText.empty() || inText.size() > sizeof(uintptr_t) * 2)
    {
        return false;
    }
    uintptr_t value = 0;
    for (char c : inText)
    {
        int digit;
        if (c >= '0' && c <= '9')
        {
            digit = c - '0';
        }
        else if (c >= 'a' && c <= 'f')
        {
            digit = c - 'a' + 10;
        }
        else if (c >= 'A' && c <= 'F')
        {
            digit = c - 'A' + 10;
        }
        else
        {
            return false;
        }
        value = value * 16 + static_cast<uintptr_t>(digit);
    }
    outValue = value;
    return true;
}

std::string RealPath(const std::string& inPath)
{
    char* resolved = ::realpath(inPath.c_str(), nullptr);
    if (resolved == nullptr)
    {
        return {};
    }
    std::string path = resolved;
    std::free(resolved);
    return path;
}

// The names of a folder, "." and ".." left out.
std::vector<std::string> ListNames(const std::string& inFolder)
{
    std::vector<std::string> names;
    if (DIR* folder = ::opendir(inFolder.c_str()))
    {
        while (dirent* entry = ::readdir(folder))
        {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            {
                names.emplace_back(entry->d_name);
            }
        }
        ::closedir(folder);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The link of /dev/disk/by-<inKind> that resolves to inDevice; empty when none.
std::string FindDiskLink(const char* inKind, const std::string& inDevice)
{
    const std::string folder = std::string("/dev/disk/by-") + inKind + "/";
    for (const std::string& name : ListNames(folder))
    {
        if (RealPath(folder + name) == inDevice)
        {
            // udev escapes blanks and slashes in labels as \x20 and \x2f.
            std::string decoded;
            for (size_t i = 0; i < name.size(); ++i)
            {
                if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x')
                {
                    char hex[3] = {name[i + 2], name[i + 3], 0};
                    char* end = nullptr;
                    const long code = std::strtol(hex, &end, 16);
                    if (end == hex + 2)
                    {
                        decoded += static_cast<char>(code);
                        i += 3;
                        continue;
                    }
                }
                decoded += name[i];
            }
            return decoded;
        }
    }
    return {};
}

// The transport of a whole disk, from its name and its place in sysfs.
std::string GuessTransport(const std::string& inDisk)
{
    static const std::pair<const char*, const char*> kByName[] = {
        {"nvme", "nvme"}, {"vd", "virtio"},  {"loop", "loop"}, {"md", "md"},
        {"dm-", "dm"},    {"mmcblk", "mmc"}, {"xvd", "xen"},   {"zram", "zram"},
    };
    for (const auto& [prefix, transport] : kByName)
    {
        if (inDisk.rfind(prefix, 0) == 0)
        {
            return transport;
        }
    }
    const std::string place = RealPath("/sys/class/block/" + inDisk);
    static const std::pair<const char*, const char*> kByPlace[] = {
        {"/usb", "usb"}, {"/ata", "sata"}, {"/virtio", "virtio"}, {"/nvme", "nvme"}, {"/host", "scsi"},
    };
    for (const auto& [part, transport] : kByPlace)
    {
        if (place.find(part) != std::string::npos)
        {
            return transport;
        }
    }
    return {};
}

// IPv6 addresses that are not to be listed yet or any more, by interface index, from a netlink
// dump of the addresses.
std::multimap<int, in6_addr> ReadUnusableIPv6Addresses()
{
    std::multimap<int, in6_addr> unusable;
    const int link = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (link < 0)
    {
        return unusable;
    }
    struct
    {
        nlmsghdr fHeader;
        ifaddrmsg fMessage;
    } request{};
    request.fHeader.nlmsg_len = sizeof(request);
    request.fHeader.nlmsg_type = RTM_GETADDR;
    request.fHeader.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.fHeader.nlmsg_seq = 1;
    request.fMessage.ifa_family = AF_INET6;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(link, &request, sizeof(request), 0, reinterpret_cast<sockaddr*>(&kernel), sizeof(kernel)) <
        0)
    {
        ::close(link);
        return unusable;
    }
    constexpr uint32_t kUnusable = IFA_F_TENTATIVE | IFA_F_DADFAILED | IFA_F_DEPRECATED | IFA_F_TEMPORARY;
    std::vector<char> buffer(32768);
    for (bool done = false; !done;)
    {
        const ssize_t length = ::recv(link, buffer.data(), buffer.size(), 0);
        if (length < 0 && errno == EINTR)
        {
            continue;
        }
        if (length <= 0)
        {
            break;
        }
        // Each message within what was read; NLMSG_OK's signed length is not used.
        size_t next = 0;
        for (size_t offset = 0; offset + sizeof(nlmsghdr) <= static_cast<size_t>(length); offset = next)
        {
            auto* header = reinterpret_cast<nlmsghdr*>(buffer.data() + offset);
            if (header->nlmsg_len < sizeof(nlmsghdr) ||
                header->nlmsg_len > static_cast<size_t>(length) - offset)
            {
                break;
            }
            next = offset + NLMSG_ALIGN(header->nlmsg_len);
            if (header->nlmsg_type == NLMSG_DONE || header->nlmsg_type == NLMSG_ERROR)
            {
                done = true;
                break;
            }
            if (header->nlmsg_type != RTM_NEWADDR || header->nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrmsg)))
            {
                continue;
            }
            auto* message = static_cast<ifaddrmsg*>(NLMSG_DATA(header));
            uint32_t flags = message->ifa_flags;
            const in6_addr* address = nullptr;
            int attributesLength = static_cast<int>(IFA_PAYLOAD(header));
            for (auto* attribute = IFA_RTA(message); RTA_OK(attribute, attributesLength);
                 attribute = RTA_NEXT(attribute, attributesLength))
            {
                if (attribute->rta_type == IFA_FLAGS && RTA_PAYLOAD(attribute) >= sizeof(uint32_t))
                {
                    std::memcpy(&flags, RTA_DATA(attribute), sizeof(uint32_t));
                }
                else if (attribute->rta_type == IFA_ADDRESS && RTA_PAYLOAD(attribute) >= sizeof(in6_addr))
                {
                    address = static_cast<const in6_addr*>(RTA_DATA(attribute));
                }
            }
            if (message->ifa_family == AF_INET6 && address != nullptr && (flags & kUnusable) != 0)
            {
                unusable.emplace(static_cast<int>(message->ifa_index), *address);
            }
        }
    }
    ::close(link);
    return unusable;
}

std::string LinkLayerName(unsigned short inHardwareType)
{
    switch (inHardwareType)
    {
    case ARPHRD_ETHER:
        return "ethernet";
    case ARPHRD_INFINIBAND:
        return "infiniband";
    case ARPHRD_PPP:
        return "ppp";
    case ARPHRD_TUNNEL:
    case ARPHRD_TUNNEL6:
    case ARPHRD_SIT:
    case ARPHRD_IPGRE:
        return "tunnel";
    case ARPHRD_NONE:
        return "none";
    default:
        return "other";
    }
}

} // namespace

// ---- Memory ----

bool XLinuxSystemInfo::ParseMapsLine(std::string_view inLine, uintptr_t& outStart, uintptr_t& outEnd)
{
    const size_t dash = inLine.find('-');
    const size_t space = inLine.find(' ');
    if (dash == std::string_view::npos || space == std::string_view::npos || dash > space)
    {
        return false;
    }
    uintptr_t start;
    uintptr_t end;
    if (!ParseHex(inLine.substr(0, dash), start) ||
        !ParseHex(inLine.substr(dash + 1, space - dash - 1), end) || end <= start)
    {
        return false;
    }
    outStart = start;
    outEnd = end;
    return true;
}

bool XLinuxSystemInfo::FindMapping(uintptr_t inAddress, uintptr_t& outStart, uintptr_t& outEnd)
{
    std::string text;
    if (!ReadText("/proc/self/maps", text))
    {
        return false;
    }
    bool found = false;
    ForEachLine(text,
                [&](std::string_view inLine)
                {
                    uintptr_t start;
                    uintptr_t end;
                    if (!found && ParseMapsLine(inLine, start, end) && end > inAddress)
                    {
                        outStart = start;
                        outEnd = end;
                        found = true;
                    }
                });
    return found;
}

bool XLinuxSystemInfo::GetProcessMemory(uint64_t& outVirtual, uint64_t& outResident)
{
    std::string text;
    if (!ReadText("/proc/self/statm", text))
    {
        return false;
    }
    const std::vector<std::string_view> words = Words(Trim(text));
    uint64_t pages;
    uint64_t resident;
    if (words.size() < 2 || !ParseUnsigned(words[0], pages) || !ParseUnsigned(words[1], resident))
    {
        return false;
    }
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    const uint64_t bytes = pageSize > 0 ? static_cast<uint64_t>(pageSize) : 4096;
    outVirtual = pages * bytes;
    outResident = resident * bytes;
    return true;
}

bool XLinuxSystemInfo::ParseMemInfoValue(std::string_view inText, std::string_view inKey, uint64_t& outBytes)
{
    bool found = false;
    ForEachLine(inText,
                [&](std::string_view inLine)
                {
                    const size_t colon = inLine.find(':');
                    if (found || colon == std::string_view::npos || inLine.substr(0, colon) != inKey)
                    {
                        return;
                    }
                    const std::vector<std::string_view> words = Words(inLine.substr(colon + 1));
                    uint64_t value;
                    if (words.empty() || !ParseUnsigned(words[0], value))
                    {
                        return;
                    }
                    const uint64_t unit = words.size() > 1 && words[1] == "kB" ? 1024 : 1;
                    if (value > UINT64_MAX / unit)
                    {
                        return;
                    }
                    outBytes = value * unit;
                    found = true;
                });
    return found;
}

bool XLinuxSystemInfo::GetMachineMemory(uint64_t& outTotal, uint64_t& outAvailable)
{
    struct sysinfo info;
    if (::sysinfo(&info) != 0)
    {
        return false;
    }
    const uint64_t unit = info.mem_unit != 0 ? info.mem_unit : 1;
    outTotal = static_cast<uint64_t>(info.totalram) * unit;
    std::string text;
    if (!ReadText("/proc/meminfo", text) || !ParseMemInfoValue(text, "MemAvailable", outAvailable))
    {
        outAvailable = static_cast<uint64_t>(info.freeram) * unit;
    }
    return true;
}

// ---- Processors ----

void XLinuxSystemInfo::ParseProcStat(std::string_view inText, std::vector<ProcessorTicks>& outTicks)
{
    outTicks.clear();
    ForEachLine(inText,
                [&](std::string_view inLine)
                {
                    // "cpuN user nice system idle iowait irq softirq steal ..."; "cpu " is the sum.
                    if (inLine.size() < 4 || inLine.substr(0, 3) != "cpu" || inLine[3] < '0' ||
                        inLine[3] > '9')
                    {
                        return;
                    }
                    const std::vector<std::string_view> words = Words(inLine);
                    uint64_t values[8] = {};
                    const size_t count = std::min<size_t>(words.size() - 1, 8);
                    if (count < 4)
                    {
                        return;
                    }
                    for (size_t i = 0; i < count; ++i)
                    {
                        if (!ParseUnsigned(words[i + 1], values[i]))
                        {
                            return;
                        }
                    }
                    ProcessorTicks ticks;
                    ticks.fBusy = values[0] + values[1] + values[2] + values[5] + values[6] + values[7];
                    ticks.fIdle = values[3] + values[4];
                    outTicks.push_back(ticks);
                });
}

bool XLinuxSystemInfo::ReadProcessorTicks(std::vector<ProcessorTicks>& outTicks)
{
    std::string text;
    if (!ReadText("/proc/stat", text))
    {
        return false;
    }
    ParseProcStat(text, outTicks);
    return !outTicks.empty();
}

bool XLinuxSystemInfo::GetProcessTimes(double& outCPUSeconds, double& outWallSeconds)
{
    timespec cpu;
    timespec wall;
    if (::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu) != 0 || ::clock_gettime(CLOCK_MONOTONIC, &wall) != 0)
    {
        return false;
    }
    outCPUSeconds = static_cast<double>(cpu.tv_sec) + static_cast<double>(cpu.tv_nsec) / 1e9;
    outWallSeconds = static_cast<double>(wall.tv_sec) + static_cast<double>(wall.tv_nsec) / 1e9;
    return true;
}

bool XLinuxSystemInfo::GetProcessStartTime(double& outWallSeconds)
{
    std::string line;
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    if (!ReadText("/proc/self/stat", line) || ticksPerSecond <= 0)
    {
        return false;
    }
    // Field 22 (start time in ticks after boot), counted after the command name's last ')'.
    const size_t close = line.rfind(')');
    if (close == std::string::npos)
    {
        return false;
    }
    const std::vector<std::string_view> words = Words(std::string_view(line).substr(close + 1));
    uint64_t startTicks;
    timespec boot;
    timespec monotonic;
    if (words.size() < 20 || !ParseUnsigned(words[19], startTicks) ||
        ::clock_gettime(CLOCK_BOOTTIME, &boot) != 0 || ::clock_gettime(CLOCK_MONOTONIC, &monotonic) != 0)
    {
        return false;
    }
    // The start is on the boot clock; the two clocks differ by the time spent suspended.
    const double suspended =
        (static_cast<double>(boot.tv_sec) - static_cast<double>(monotonic.tv_sec)) +
        (static_cast<double>(boot.tv_nsec) - static_cast<double>(monotonic.tv_nsec)) / 1e9;
    outWallSeconds = static_cast<double>(startTicks) / static_cast<double>(ticksPerSecond) - suspended;
    return true;
}

// ---- Network ----

void XLinuxSystemInfo::ParseNetDev(std::string_view inText, std::vector<InterfaceCounters>& outCounters)
{
    outCounters.clear();
    ForEachLine(inText,
                [&](std::string_view inLine)
                {
                    // "  name: rx_bytes packets errs drop fifo frame compressed multicast tx_bytes ...";
                    // the heading lines have '|' where the colon would be.
                    const size_t colon = inLine.find(':');
                    if (colon == std::string_view::npos || inLine.find('|') != std::string_view::npos)
                    {
                        return;
                    }
                    const std::string_view name = Trim(inLine.substr(0, colon));
                    const std::vector<std::string_view> words = Words(inLine.substr(colon + 1));
                    InterfaceCounters counters;
                    if (name.empty() || words.size() < 16 || !ParseUnsigned(words[0], counters.fInBytes) ||
                        !ParseUnsigned(words[8], counters.fOutBytes))
                    {
                        return;
                    }
                    counters.fName = name;
                    outCounters.push_back(std::move(counters));
                });
}

bool XLinuxSystemInfo::ReadInterfaceCounters(std::vector<InterfaceCounters>& outCounters)
{
    std::string text;
    if (!ReadText("/proc/net/dev", text))
    {
        return false;
    }
    ParseNetDev(text, outCounters);
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) == 0)
    {
        for (ifaddrs* item = list; item != nullptr; item = item->ifa_next)
        {
            if ((item->ifa_flags & IFF_LOOPBACK) != 0 && item->ifa_name != nullptr)
            {
                const std::string name = item->ifa_name;
                std::erase_if(outCounters,
                              [&](const InterfaceCounters& inOne) { return inOne.fName == name; });
            }
        }
        ::freeifaddrs(list);
    }
    return true;
}

void XLinuxSystemInfo::ListAdapters(std::vector<Adapter>& outAdapters)
{
    outAdapters.clear();
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
    {
        return;
    }
    const std::multimap<int, in6_addr> unusable = ReadUnusableIPv6Addresses();
    std::map<unsigned, Adapter> byIndex;
    std::map<std::string, unsigned short> hardwareTypes;
    for (ifaddrs* item = list; item != nullptr; item = item->ifa_next)
    {
        if (item->ifa_addr == nullptr || item->ifa_name == nullptr)
        {
            continue;
        }
        const int family = item->ifa_addr->sa_family;
        if (family == AF_PACKET)
        {
            sockaddr_ll link;
            std::memcpy(&link, item->ifa_addr, sizeof(link));
            hardwareTypes[item->ifa_name] = link.sll_hatype;
            continue;
        }
        constexpr unsigned kMask = IFF_UP | IFF_LOOPBACK | IFF_POINTOPOINT | IFF_MULTICAST;
        if ((family != AF_INET && family != AF_INET6) ||
            (item->ifa_flags & kMask) != (IFF_UP | IFF_MULTICAST) || item->ifa_netmask == nullptr ||
            item->ifa_netmask->sa_family != family)
        {
            continue;
        }
        const unsigned index = ::if_nametoindex(item->ifa_name);
        char text[INET6_ADDRSTRLEN] = {};
        if (family == AF_INET)
        {
            sockaddr_in address;
            std::memcpy(&address, item->ifa_addr, sizeof(address));
            ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof(text));
        }
        else
        {
            sockaddr_in6 address;
            std::memcpy(&address, item->ifa_addr, sizeof(address));
            auto range = unusable.equal_range(static_cast<int>(index));
            if (std::any_of(range.first, range.second,
                            [&](const auto& inOne) {
                                return std::memcmp(&inOne.second, &address.sin6_addr, sizeof(in6_addr)) == 0;
                            }))
            {
                continue;
            }
            ::inet_ntop(AF_INET6, &address.sin6_addr, text, sizeof(text));
        }
        Adapter& adapter = byIndex[index];
        adapter.fName = item->ifa_name;
        adapter.fAddresses.push_back(AdapterAddress{text, family == AF_INET6});
    }
    ::freeifaddrs(list);
    for (auto& [index, adapter] : byIndex)
    {
        struct stat status;
        if (::stat(("/sys/class/net/" + adapter.fName + "/wireless").c_str(), &status) == 0)
        {
            adapter.fType = "wifi";
        }
        else
        {
            auto type = hardwareTypes.find(adapter.fName);
            adapter.fType = LinkLayerName(type == hardwareTypes.end() ? ARPHRD_VOID : type->second);
        }
        outAdapters.push_back(std::move(adapter));
    }
}

// ---- Block devices ----

bool XLinuxSystemInfo::GetBlockDevice(const std::string& inName, BlockDevice& outDevice)
{
    const std::string folder = "/sys/class/block/" + inName + "/";
    uint64_t sectors;
    if (inName.empty() || inName.find('/') != std::string::npos ||
        !ParseUnsigned(ReadField(folder + "size"), sectors))
    {
        return false;
    }
    BlockDevice device;
    device.fName = inName;
    device.fSizeBytes = sectors * 512;
    // A partition's model and transport are its disk's: the folder above it in sysfs.
    std::string disk = inName;
    struct stat status;
    if (::stat((folder + "partition").c_str(), &status) == 0)
    {
        const std::string place = RealPath(folder);
        const std::string parent = place.substr(0, place.rfind('/'));
        disk = parent.substr(parent.rfind('/') + 1);
    }
    device.fModel = ReadField("/sys/class/block/" + disk + "/device/model");
    device.fTransport = GuessTransport(disk);
    device.fUUID = FindDiskLink("uuid", "/dev/" + inName);
    device.fLabel = FindDiskLink("label", "/dev/" + inName);
    device.fMembers = ListNames(folder + "slaves");
    outDevice = std::move(device);
    return true;
}

bool XLinuxSystemInfo::GetBlockDeviceOfPath(const std::string& inDevicePath, BlockDevice& outDevice)
{
    struct stat status;
    if (inDevicePath.rfind("/dev/", 0) != 0 || ::stat(inDevicePath.c_str(), &status) != 0 ||
        !S_ISBLK(status.st_mode))
    {
        return false;
    }
    // /sys/dev/block/MAJOR:MINOR names the device whatever link the mount table shows.
    const std::string place = RealPath("/sys/dev/block/" + std::to_string(major(status.st_rdev)) + ":" +
                                       std::to_string(minor(status.st_rdev)));
    return !place.empty() && GetBlockDevice(place.substr(place.rfind('/') + 1), outDevice);
}

bool XLinuxSystemInfo::GetFileSystemSpace(const std::string& inMountPoint, uint64_t& outBlocks,
                                          uint64_t& outCapacity, uint64_t& outAvailable)
{
    struct statvfs space;
    if (::statvfs(inMountPoint.c_str(), &space) != 0)
    {
        return false;
    }
    const uint64_t unit = space.f_frsize != 0 ? space.f_frsize : space.f_bsize;
    outBlocks = space.f_blocks;
    outCapacity = static_cast<uint64_t>(space.f_blocks) * unit;
    outAvailable = static_cast<uint64_t>(space.f_bavail) * unit;
    return true;
}

} // namespace zorn
