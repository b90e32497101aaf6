// Linux back end of the kernel, its only folder that calls the system: portable kernel files use
// the C and C++ libraries and ICU only; system calls, /proc, glibc extensions and ABI calls live here.
//
// XLinuxSystemInfo: the figures and inventories of VSystem's statistics, read from /proc, /sys,
// netlink and glibc: the mappings and memory of the process, the machine's memory, processor
// ticks, network byte counters, network adapters with their addresses, and block devices.
//
// Choices and limits:
// - Everything reads the system at each call: no cache, no error object. A failure shows as false
//   (outputs untouched unless said) or as an empty list.
// - Processor ticks: per processor, busy = user + nice + system + irq + softirq + steal, idle =
//   idle + iowait (guest time is already counted in user and nice).
// - Network counters are the 64-bit byte totals of /proc/net/dev, of the process's network
//   namespace; loopback interfaces (IFF_LOOPBACK) are left out.
// - Adapters: getifaddrs, in interface index order. An address counts when its interface is up and
//   multicast but neither loopback nor point-to-point and it has a netmask of its family; an IPv6
//   address is left out when netlink (RTM_GETADDR) flags it tentative, failed duplicate address
//   detection, deprecated or temporary. The type is "wifi" when /sys/class/net/<name>/wireless
//   exists, "ethernet" for an Ethernet link layer, else a name of the link layer ("infiniband",
//   "ppp", "tunnel", "none", "other").
// - Block devices come from /sys/class/block: size (512-byte sectors), model of the device or of
//   the disk a partition is on, transport guessed from the device's name and its place in sysfs
//   ("nvme", "virtio", "usb", "sata", "scsi", "mmc", "loop", "md", "dm", else ""), UUID from the
//   links of /dev/disk/by-uuid, label from /dev/disk/by-label, and the members of an md or dm
//   device from its slaves/ folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zorn
{

class XLinuxSystemInfo
{
public:
    XLinuxSystemInfo() = delete;

    // ---- Memory ----
    // The first mapping of the process that ends above inAddress (/proc/self/maps): its start and
    // end. False when there is none or the table cannot be read.
    static bool FindMapping(uintptr_t inAddress, uintptr_t& outStart, uintptr_t& outEnd);
    // "start-end ..." of a maps line; false when the line does not begin that way.
    static bool ParseMapsLine(std::string_view inLine, uintptr_t& outStart, uintptr_t& outEnd);
    // The process's virtual and resident sizes in bytes (/proc/self/statm).
    static bool GetProcessMemory(uint64_t& outVirtual, uint64_t& outResident);
    // The machine's memory (sysinfo) and what is available for new work without swapping
    // (/proc/meminfo's MemAvailable, else sysinfo's free memory), in bytes.
    static bool GetMachineMemory(uint64_t& outTotal, uint64_t& outAvailable);
    // A "Key:  value kB" line's value of a /proc/meminfo text, in bytes; false when absent.
    static bool ParseMemInfoValue(std::string_view inText, std::string_view inKey, uint64_t& outBytes);

    // ---- Processors ----
    struct ProcessorTicks
    {
        uint64_t fBusy = 0;
        uint64_t fIdle = 0;
    };
    // The "cpuN" lines of /proc/stat, in their order.
    static bool ReadProcessorTicks(std::vector<ProcessorTicks>& outTicks);
    static void ParseProcStat(std::string_view inText, std::vector<ProcessorTicks>& outTicks);
    // Processor time used by all threads of the process, and the monotonic clock, in seconds.
    static bool GetProcessTimes(double& outCPUSeconds, double& outWallSeconds);
    // The monotonic time at which the process started, in seconds (/proc/self/stat).
    static bool GetProcessStartTime(double& outWallSeconds);

    // ---- Network ----
    struct InterfaceCounters
    {
        std::string fName;
        uint64_t fInBytes = 0;
        uint64_t fOutBytes = 0;
    };
    // The byte counters of every interface but loopbacks.
    static bool ReadInterfaceCounters(std::vector<InterfaceCounters>& outCounters);
    // Every interface of a /proc/net/dev text (the two heading lines skipped); malformed lines are
    // left out.
    static void ParseNetDev(std::string_view inText, std::vector<InterfaceCounters>& outCounters);

    struct AdapterAddress
    {
        std::string fIP;
        bool fIPv6 = false;
    };
    struct Adapter
    {
        std::string fName;
        std::string fType;
        std::vector<AdapterAddress> fAddresses;
    };
    // The adapters that have an address that counts (above).
    static void ListAdapters(std::vector<Adapter>& outAdapters);

    // ---- Block devices ----
    struct BlockDevice
    {
        std::string fName; // in /sys/class/block ("sda1", "loop0", "dm-0")
        uint64_t fSizeBytes = 0;
        std::string fModel;
        std::string fTransport;
        std::string fUUID;
        std::string fLabel;
        std::vector<std::string> fMembers; // names of the devices an md or dm device is made of
    };
    // The device of a /dev path (links resolved); false when it is no block device of sysfs.
    static bool GetBlockDeviceOfPath(const std::string& inDevicePath, BlockDevice& outDevice);
    static bool GetBlockDevice(const std::string& inName, BlockDevice& outDevice);
    // The capacity and free space of a mounted file system in bytes (statvfs; free for the
    // unprivileged). False when statvfs fails.
    static bool GetFileSystemSpace(const std::string& inMountPoint, uint64_t& outBlocks,
                                   uint64_t& outCapacity, uint64_t& outAvailable);
};

} // namespace zorn
