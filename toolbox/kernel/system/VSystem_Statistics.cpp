// VSystem's memory figures, processor and network use, and inventories of network adapters and
// disk partitions (the choices are in VSystem.h).
#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/linux/XLinuxMountInfo.h"
#include "toolbox/kernel/linux/XLinuxSystem.h"
#include "toolbox/kernel/linux/XLinuxSystemInfo.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/system/VSystem.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <set>

namespace zorn
{

namespace
{

VString FromUTF8(const std::string& inText)
{
    VString text;
    text.FromBlock(inText.data(), inText.size(), CharSet::VTC_UTF_8);
    return text;
}

// A JSON object being built, released at the end of its scope unless handed on.
class StJSONObject
{
public:
    explicit StJSONObject(const detail::VJSONObjectAccess& inAccess)
        : fAccess(inAccess), fObject(inAccess.fCreate())
    {
    }
    ~StJSONObject()
    {
        if (fObject != nullptr)
        {
            fAccess.fRelease(fObject);
        }
    }
    StJSONObject(const StJSONObject&) = delete;
    StJSONObject& operator=(const StJSONObject&) = delete;
    StJSONObject(StJSONObject&& ioOther) noexcept : fAccess(ioOther.fAccess), fObject(ioOther.fObject)
    {
        ioOther.fObject = nullptr;
    }

    VJSONObject* Get() const { return fObject; }
    void SetString(const char* inName, const std::string& inValue)
    {
        fAccess.fSetString(fObject, VString(inName), FromUTF8(inValue));
    }
    void SetNumber(const char* inName, double inValue)
    {
        fAccess.fSetNumber(fObject, VString(inName), inValue);
    }
    void SetObject(const char* inName, const StJSONObject& inValue)
    {
        fAccess.fSetObject(fObject, VString(inName), inValue.Get());
    }
    void SetArray(const char* inName, const std::vector<StJSONObject>& inValues)
    {
        std::vector<VJSONObject*> objects;
        for (const StJSONObject& value : inValues)
        {
            objects.push_back(value.Get());
        }
        fAccess.fSetObjectArray(fObject, VString(inName), objects.data(), objects.size());
    }

private:
    const detail::VJSONObjectAccess& fAccess;
    VJSONObject* fObject;
};

void SetArray(VJSONValue& outValue, const std::vector<StJSONObject>& inValues)
{
    std::vector<VJSONObject*> objects;
    for (const StJSONObject& value : inValues)
    {
        objects.push_back(value.Get());
    }
    detail::SetJSONObjectArray(outValue, objects.data(), objects.size());
}

// The process-wide samples of the statistics; one lock serves them all.
struct Samples
{
    std::mutex fMutex;
    std::vector<XLinuxSystemInfo::ProcessorTicks> fTicks;
    bool fHaveProcessSample = false;
    double fProcessCPU = 0;
    double fProcessWall = 0;
    bool fHaveNetworkSample = false;
    uint64_t fNetworkTime = 0; // monotonic nanoseconds
    uint64_t fInBytes = 0;
    uint64_t fOutBytes = 0;
};

Samples& GetSamples()
{
    static Samples sSamples;
    return sSamples;
}

// File systems whose data lives on another machine.
bool IsNetworkFileSystem(const std::string& inType)
{
    static const std::set<std::string> kTypes = {
        "nfs",  "nfs4",      "cifs",       "smb3",           "smbfs",      "9p",   "afs",
        "ceph", "glusterfs", "fuse.sshfs", "fuse.glusterfs", "ncpfs",      "coda", "lustre",
        "gfs2", "ocfs2",     "davfs",      "fuse.davfs2",    "fuse.rclone"};
    return kTypes.count(inType) != 0;
}

StJSONObject DiskObject(const detail::VJSONObjectAccess& inAccess, const std::string& inInterface,
                        const std::string& inDescription, double inSizeKiB, const std::string& inIdentifier)
{
    StJSONObject disk(inAccess);
    disk.SetString("interface", inInterface);
    disk.SetString("description", inDescription);
    disk.SetNumber("size", inSizeKiB);
    disk.SetString("identifier", inIdentifier);
    return disk;
}

} // namespace

// ---- Memory figures ----

bool VSystem::VirtualQuery(const void* inAddress, size_t* outSize, int32_t* outState, const void** outBase)
{
    const auto address = reinterpret_cast<uintptr_t>(inAddress);
    uintptr_t start = 0;
    uintptr_t end = 0;
    size_t size = 0;
    int32_t state = 0;
    const void* base = nullptr;
    if (XLinuxSystemInfo::FindMapping(address, start, end))
    {
        if (start > address)
        {
            size = start - address;
            state = 1;
            base = inAddress;
        }
        else
        {
            size = end - start;
            base = reinterpret_cast<const void*>(start);
        }
    }
    if (outSize != nullptr)
    {
        *outSize = size;
    }
    if (outState != nullptr)
    {
        *outState = state;
    }
    if (outBase != nullptr)
    {
        *outBase = base;
    }
    return size != 0;
}

uint64_t VSystem::VirtualMemoryUsedSize()
{
    uint64_t size = 0;
    uint64_t resident = 0;
    return XLinuxSystemInfo::GetProcessMemory(size, resident) ? size : 0;
}

uint64_t VSystem::GetApplicationPhysicalMemSize()
{
    uint64_t size = 0;
    uint64_t resident = 0;
    return XLinuxSystemInfo::GetProcessMemory(size, resident) ? resident : 0;
}

uint64_t VSystem::GetPhysicalMemSize()
{
    uint64_t total = 0;
    uint64_t available = 0;
    return XLinuxSystemInfo::GetMachineMemory(total, available) ? total : 0;
}

uint64_t VSystem::GetPhysicalFreeMemSize()
{
    uint64_t total = 0;
    uint64_t available = 0;
    return XLinuxSystemInfo::GetMachineMemory(total, available) ? available : 0;
}

// ---- Processor and network use ----

bool VSystem::GetProcessorsPercentageUse(double& outUse)
{
    outUse = 0;
    std::vector<XLinuxSystemInfo::ProcessorTicks> ticks;
    if (!XLinuxSystemInfo::ReadProcessorTicks(ticks))
    {
        return false;
    }
    Samples& samples = GetSamples();
    std::lock_guard lock(samples.fMutex);
    const bool first = samples.fTicks.empty();
    uint64_t busy = 0;
    uint64_t idle = 0;
    // A processor that went offline or came online since the last call counts from the next one.
    for (size_t i = 0; !first && i < std::min(ticks.size(), samples.fTicks.size()); ++i)
    {
        // Counters never go back, but a processor taken offline and back may restart them.
        busy += ticks[i].fBusy >= samples.fTicks[i].fBusy ? ticks[i].fBusy - samples.fTicks[i].fBusy : 0;
        idle += ticks[i].fIdle >= samples.fTicks[i].fIdle ? ticks[i].fIdle - samples.fTicks[i].fIdle : 0;
    }
    samples.fTicks = std::move(ticks);
    if (first)
    {
        return false;
    }
    const uint64_t total = std::max<uint64_t>(busy + idle, 1);
    outUse = static_cast<double>(busy) / static_cast<double>(total);
    return true;
}

double VSystem::GetApplicationProcessorsPercentageUse()
{
    double cpu = 0;
    double wall = 0;
    if (!XLinuxSystemInfo::GetProcessTimes(cpu, wall))
    {
        return -1.0;
    }
    Samples& samples = GetSamples();
    std::lock_guard lock(samples.fMutex);
    double sinceCPU = 0;
    double sinceWall = 0;
    if (samples.fHaveProcessSample)
    {
        sinceCPU = samples.fProcessCPU;
        sinceWall = samples.fProcessWall;
    }
    else if (!XLinuxSystemInfo::GetProcessStartTime(sinceWall))
    {
        return -1.0;
    }
    samples.fHaveProcessSample = true;
    samples.fProcessCPU = cpu;
    samples.fProcessWall = wall;
    const double elapsed = wall - sinceWall;
    if (elapsed <= 0)
    {
        return 0;
    }
    const double use = (cpu - sinceCPU) / elapsed / GetNumberOfLogicalProcessors();
    return std::clamp(use, 0.0, 1.0);
}

bool VSystem::GetInOutNetworkStats(std::vector<double>& outStats)
{
    outStats.clear();
    std::vector<XLinuxSystemInfo::InterfaceCounters> counters;
    if (!XLinuxSystemInfo::ReadInterfaceCounters(counters))
    {
        return false;
    }
    const uint64_t now = XLinuxSystem::GetMonotonicNanoseconds();
    uint64_t in = 0;
    uint64_t out = 0;
    for (const auto& one : counters)
    {
        in += one.fInBytes;
        out += one.fOutBytes;
    }
    Samples& samples = GetSamples();
    std::lock_guard lock(samples.fMutex);
    const bool first = !samples.fHaveNetworkSample;
    const double milliseconds = static_cast<double>(now - samples.fNetworkTime) / 1e6;
    const bool wentDown = in < samples.fInBytes || out < samples.fOutBytes;
    const uint64_t lastIn = samples.fInBytes;
    const uint64_t lastOut = samples.fOutBytes;
    samples.fHaveNetworkSample = true;
    samples.fNetworkTime = now;
    samples.fInBytes = in;
    samples.fOutBytes = out;
    if (first || wentDown || milliseconds <= 0)
    {
        return false;
    }
    outStats.push_back(static_cast<double>(in - lastIn) / milliseconds * 1000);
    outStats.push_back(static_cast<double>(out - lastOut) / milliseconds * 1000);
    return true;
}

// ---- Inventories ----

bool VSystem::GetNetworkAdaptersInformations(VJSONValue& outAdapters)
{
    const detail::VJSONObjectAccess* access = detail::JSONObjects();
    if (access == nullptr)
    {
        return false;
    }
    std::vector<XLinuxSystemInfo::Adapter> adapters;
    XLinuxSystemInfo::ListAdapters(adapters);
    std::vector<StJSONObject> result;
    for (const auto& adapter : adapters)
    {
        std::vector<StJSONObject> addresses;
        for (const auto& address : adapter.fAddresses)
        {
            StJSONObject entry(*access);
            entry.SetString("ip", address.fIP);
            entry.SetString("type", address.fIPv6 ? "ipv6" : "ipv4");
            addresses.push_back(std::move(entry));
        }
        StJSONObject entry(*access);
        entry.SetString("type", adapter.fType);
        entry.SetString("name", adapter.fName);
        entry.SetArray("ipAddresses", addresses);
        result.push_back(std::move(entry));
    }
    SetArray(outAdapters, result);
    return true;
}

bool VSystem::GetDiskPartitionsInfos(VJSONValue& outPartitions)
{
    const detail::VJSONObjectAccess* access = detail::JSONObjects();
    std::vector<XLinuxMountEntry> mounts;
    if (access == nullptr || !XLinuxMountInfo::Read(mounts))
    {
        return false;
    }
    // A mount point listed twice shows what is mounted on top: the last entry.
    std::map<std::string, size_t> lastAt;
    for (size_t i = 0; i < mounts.size(); ++i)
    {
        lastAt[mounts[i].fMountPoint] = i;
    }
    std::vector<StJSONObject> result;
    for (size_t i = 0; i < mounts.size(); ++i)
    {
        const XLinuxMountEntry& mount = mounts[i];
        uint64_t blocks = 0;
        uint64_t capacity = 0;
        uint64_t available = 0;
        if (lastAt[mount.fMountPoint] != i ||
            !XLinuxSystemInfo::GetFileSystemSpace(mount.fMountPoint, blocks, capacity, available) ||
            blocks == 0)
        {
            continue;
        }
        const double capacityKiB = static_cast<double>(capacity / 1024);
        XLinuxSystemInfo::BlockDevice device;
        const bool isBlock = XLinuxSystemInfo::GetBlockDeviceOfPath(mount.fSource, device);
        std::string name = isBlock ? device.fLabel : std::string();
        if (name.empty())
        {
            name =
                mount.fMountPoint == "/" ? "/" : mount.fMountPoint.substr(mount.fMountPoint.rfind('/') + 1);
        }
        StJSONObject entry(*access);
        entry.SetString("mountPoint", mount.fMountPoint);
        entry.SetNumber("capacity", capacityKiB);
        entry.SetNumber("available", static_cast<double>(available / 1024));
        entry.SetString("filesystem", mount.fType);
        entry.SetString("name", name);
        if (IsNetworkFileSystem(mount.fType))
        {
            entry.SetObject("disk", DiskObject(*access, "network", "", capacityKiB, ""));
        }
        else if (isBlock && !device.fMembers.empty())
        {
            std::vector<StJSONObject> members;
            for (const std::string& memberName : device.fMembers)
            {
                XLinuxSystemInfo::BlockDevice member;
                if (XLinuxSystemInfo::GetBlockDevice(memberName, member))
                {
                    members.push_back(DiskObject(*access, member.fTransport, member.fModel,
                                                 static_cast<double>(member.fSizeBytes / 1024),
                                                 member.fUUID));
                }
            }
            entry.SetArray("disk", members);
        }
        else if (isBlock)
        {
            entry.SetObject("disk", DiskObject(*access, device.fTransport, device.fModel,
                                               static_cast<double>(device.fSizeBytes / 1024), device.fUUID));
        }
        else
        {
            // A file system without a device of its own (tmpfs, overlay): its own size.
            entry.SetObject("disk", DiskObject(*access, "", "", capacityKiB, ""));
        }
        result.push_back(std::move(entry));
    }
    SetArray(outPartitions, result);
    return true;
}

} // namespace zorn
