#include "toolbox/process/VProcess.h"

#include "platform/Bundle.h"
#include "toolbox/files/VFile.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/json/VJSONClass.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/locks/SpinLock.h"

#include "toolbox/kernel/system/VSystem.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"
#include "toolbox/process/VMetricsManager.h"

#include <vector>

namespace zorn
{

namespace
{
std::atomic<VProcess*>& Instance()
{
    static std::atomic<VProcess*> sInstance{nullptr};
    return sInstance;
}

// The spin lock's settings from "spinlock.prm" beside the executable, read when the task manager
// starts under a process. A missing or malformed file, or one that holds no JSON object, leaves the
// settings as they are and reports nothing: the file is an optional tuning aid.
void ReadSpinLockSettings()
{
    VProcess* process = VProcess::Get();
    if (process == nullptr)
    {
        return;
    }
    StErrorContextInstaller silent(false, true);
    VRefPtr<VFile> file(process->RetainFile(VProcess::kFolderExecutable, VString("spinlock.prm")), true);
    VJSONValue settings;
    if (!file || file->GetContentAsJSON(settings, CharSet::VTC_UTF_8) != VE_OK || !settings.IsObject())
    {
        return;
    }
    VJSONValue mode = settings.GetProperty(VString("mode"));
    VJSONValue maxSpins = settings.GetProperty(VString("maxSpins"));
    VJSONValue yield = settings.GetProperty(VString("yieldAfterCheckEvent"));
    VString modeText;
    if (mode.IsString())
    {
        mode.GetString(modeText);
    }
    double spins = maxSpins.IsNumber() ? maxSpins.GetNumber() : 0;
    bool yieldFlag = yield.IsBool() && yield.GetBool();
    SpinLock::ApplySettings(mode.IsString() ? &modeText : nullptr, maxSpins.IsNumber() ? &spins : nullptr,
                            yield.IsBool() ? &yieldFlag : nullptr);
}

// A program that makes a process links this file, so the reader is there before the task manager
// starts.
[[maybe_unused]] const bool sSpinLockReaderInstalled =
    (detail::KernelHooks().fReadSpinLockSettings.store(&ReadSpinLockSettings), true);
} // namespace

VProcess::VProcess()
    : fLastTokenRelease(VSystem::GetCurrentTime()), fMetricsManager(std::make_unique<VMetricsManager>())
{
    Instance().store(this, std::memory_order_release);
    IProcessServices::Set(this);
    // The process class store "zq" with its root classes; from here on every new plain JSON
    // object has the class "Object".
    fClassStore.Adopt(new VJSONClassStore(VString("zq")));
    VJSONClassStore::SetProcessStore(fClassStore.Get());
    fClassStore->AddRootClasses();
}

VProcess::~VProcess()
{
    if (VJSONClassStore::GetProcessStore() == fClassStore.Get())
    {
        VJSONClassStore::SetProcessStore(nullptr);
    }
    fClassStore.Clear();
    VProcess* self = this;
    Instance().compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
    if (IProcessServices::Get() == this)
    {
        IProcessServices::Set(nullptr);
    }
}

VProcess* VProcess::Get()
{
    return Instance().load(std::memory_order_acquire);
}

VIntlMgr* VProcess::GetIntlMgr() const
{
    return nullptr;
}

ILogger* VProcess::GetLogger() const
{
    return nullptr;
}

ILocalizer* VProcess::GetLocalizer() const
{
    return fLocalizer.load(std::memory_order_acquire);
}

void VProcess::SetLocalizer(ILocalizer* inLocalizer)
{
    fLocalizer.store(inLocalizer, std::memory_order_release);
}

VJSONClassStore* VProcess::GetClassStore() const
{
    return fClassStore.Get();
}

VString VProcess::GetLogSourceIdentifier() const
{
    std::optional<std::string> name = platform::GetMainBundleInfoString("CFBundleName");
    VString identifier;
    if (name)
    {
        identifier.FromBlock(name->data(), name->size(), CharSet::VTC_UTF_8);
    }
    return identifier;
}

bool VProcess::IsFibersEnabled() const
{
    return fFibers;
}

void VProcess::RegisterActivityToken(VActivityToken* inToken)
{
    std::lock_guard lock(fTokenMutex);
    fActivityTokens.insert(inToken);
}

void VProcess::UnregisterActivityToken(VActivityToken* inToken)
{
    std::lock_guard lock(fTokenMutex);
    if (fActivityTokens.erase(inToken) != 0 && fActivityTokens.empty())
    {
        fLastTokenRelease = VSystem::GetCurrentTime();
    }
}

bool VProcess::HasSomeActivityTokens(uint32_t inMilliseconds)
{
    std::lock_guard lock(fTokenMutex);
    // Unsigned difference: right across a wrap of the millisecond count.
    return !fActivityTokens.empty() || VSystem::GetCurrentTime() - fLastTokenRelease < inMilliseconds;
}

void VProcess::QuitAsynchronously(const VString* /*inReason*/)
{
    // A reference taken under the manager's lock: once killed, the main task may leave its loop
    // and be disposed of while this call still wakes it.
    std::vector<VRefPtr<VTask>> tasks;
    VTaskMgr::Get()->GetTasks(tasks);
    for (const VRefPtr<VTask>& task : tasks)
    {
        if (task->IsMain())
        {
            task->Kill();
            task->SetMessageQueueEvent();
            break;
        }
    }
}

VFolder* VProcess::RetainFolder(uint32_t inKind) const
{
    if (inKind != kFolderExecutable)
    {
        return nullptr;
    }
    std::string executable = platform::GetMainExecutablePath();
    size_t slash = executable.find_last_of('/');
    if (slash == std::string::npos)
    {
        return nullptr;
    }
    VFilePath folder;
    XLinuxFile::GetFilePathFromPosixPath(executable.substr(0, slash + 1).c_str(), true, folder);
    return folder.IsValid() ? new VFolder(folder) : nullptr;
}

VFile* VProcess::RetainFile(uint32_t inKind, const VString& inName, uint32_t inSecondKind) const
{
    for (uint32_t kind : {inKind, inSecondKind})
    {
        if (kind == 0)
        {
            continue;
        }
        VRefPtr<VFolder> folder(RetainFolder(kind), true);
        if (!folder)
        {
            continue;
        }
        VRefPtr<VFile> file(new VFile(*folder, inName, FPS_POSIX), true);
        if (file->Exists())
        {
            return file.Forget();
        }
    }
    return nullptr;
}

} // namespace zorn
