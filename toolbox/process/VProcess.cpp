#include "toolbox/process/VProcess.h"

#include "platform/Bundle.h"
#include "toolbox/files/VFile.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/json/VJSONClass.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/locks/SpinLock.h"

#include "toolbox/files/VFileKindManager.h"
#include "toolbox/files/VFileSystemNamespace.h"
#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/kernel/charsets/VTextConverters.h"
#include "toolbox/kernel/errors/VDebugMgr.h"
#include "toolbox/kernel/locale/VIntlMgr.h"
#include "toolbox/kernel/system/VSystem.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"
#include "toolbox/process/VBootLogListener.h"
#include "toolbox/process/VLogger.h"
#include "toolbox/process/VMetricsManager.h"
#include "toolbox/process/VProgressManager.h"
#include "toolbox/process/posix/XPosixProcessIPC.h"

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

std::atomic<VProcess::InitStepHook> sInitStepHook{nullptr};

void ShowStartUpAlert(const char* inMessage)
{
    VSystem::DisplayNotification(VString("Initialization failed"), VString(inMessage), 0);
}

// The three places of start-up (and of its end) where the toolbox's own empty Init and DeInit
// functions stand: nothing to do, and they succeed.
bool EmptyInitHook()
{
    return true;
}

// A program that makes a process links this file, so the reader is there before the task manager
// starts.
[[maybe_unused]] const bool sSpinLockReaderInstalled =
    (detail::KernelHooks().fReadSpinLockSettings.store(&ReadSpinLockSettings), true);
} // namespace

VProcess::VProcess()
    : fFileSystems(new VFileSystemNamespace(nullptr), true), fLastTokenRelease(VSystem::GetCurrentTime()),
      fMetricsManager(std::make_unique<VMetricsManager>())
{
    for (auto [key, field] : {std::pair{"CFBundleName", &fProductName},
                              std::pair{"CFBundleShortVersionString", &fProductVersion}})
    {
        if (std::optional<std::string> value = platform::GetMainBundleInfoString(key))
        {
            field->FromBlock(value->data(), value->size(), CharSet::VTC_UTF_8);
        }
    }
    fProductFolderName = fProductName;
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
    if (fInitCalled)
    {
        _DeInit();
    }
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

int VProcess::sProcessCommandLineArgc = 0;
char** VProcess::sProcessCommandLineArgv = nullptr;

VProcess* VProcess::Get()
{
    return Instance().load(std::memory_order_acquire);
}

VIntlMgr* VProcess::GetIntlMgr() const
{
    return fIntlMgr.Get();
}

ILogger* VProcess::GetLogger() const
{
    return fLogger.Get();
}

ILogger* VProcess::GetLogger(EMessageLevel inLevel) const
{
    VLogger* logger = fLogger.Get();
    return logger != nullptr && logger->ShouldLog(inLevel) ? logger : nullptr;
}

// ---- Start-up ----

void VProcess::SetInitStepHookForTests(InitStepHook inHook)
{
    sInitStepHook.store(inHook, std::memory_order_release);
}

bool VProcess::_Step(int inStep)
{
    InitStepHook hook = sInitStepHook.load(std::memory_order_acquire);
    return hook == nullptr || hook(inStep);
}

bool VProcess::Init(uint32_t inFlags)
{
    if (!fInitCalled)
    {
        fInitCalled = true;
        fInitResult = _Init(inFlags);
    }
    return fInitResult;
}

bool VProcess::_Init(uint32_t inFlags)
{
    bool versionOK = DoCheckSystemVersion(14);
    // The instance and the fibers flag are set even when the check failed, so that whatever
    // reports the failure finds the process.
    Instance().store(this, std::memory_order_release);
    fFibers = (inFlags & 2) != 0;
    if (!versionOK || !_Step(2) || !_Step(3) || !EmptyInitHook())
    {
        return false;
    }
    // The character locale comes from the environment before anything converts text.
    VTextConverters::InitCharacterLocale();
    if (!_Step(4))
    {
        return false;
    }
    fIntlMgr.Adopt(VIntlMgr::Create(0, 0, 1));
    if (!fIntlMgr)
    {
        return false;
    }
    if (!_Step(5) || !EmptyInitHook() || !_Step(6))
    {
        return false;
    }
    fFileKindsInited = VFileKindManager::Init();
    if (!fFileKindsInited || !_CheckCaseInsensitiveInstallFolder() || !_Step(8))
    {
        return false;
    }
    fTaskMgrInited = VTaskMgr::Get()->Init(this);
    if (!fTaskMgrInited || !_Step(9) || !EmptyInitHook() || !_Step(10))
    {
        return false;
    }
    fDebugMgrInited = VDebugMgr::Get()->Init();
    if (!fDebugMgrInited || !_Step(11))
    {
        return false;
    }
    fProgressInited = VProgressManager::Init();
    if (!fProgressInited || !_Step(12) || !_Init_FileSystems() || !_Step(13))
    {
        return false;
    }
    // The class store "zq" is made with the process (plain JSON objects need it from the start);
    // this step makes it only when something dropped it.
    if (!fClassStore)
    {
        fClassStore.Adopt(new VJSONClassStore(VString("zq")));
        VJSONClassStore::SetProcessStore(fClassStore.Get());
        fClassStore->AddRootClasses();
    }
    if ((inFlags & 16) != 0)
    {
        if (!_Step(14))
        {
            return false;
        }
        fLogger.Adopt(new VLogger());
        fBootLogListener.Adopt(new VBootLogListener());
        fLogger->AddLogListener(fBootLogListener.Get());
        fLogger->Start();
    }
    return true;
}

void VProcess::_DeInit()
{
    VProcess* self = this;
    Instance().compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
    if (fLogger)
    {
        fLogger->Stop();
        fLogger.Clear();
    }
    if (fDebugMgrInited)
    {
        VDebugMgr::Get()->DeInit();
        fDebugMgrInited = false;
    }
    EmptyInitHook();
    if (fTaskMgrInited)
    {
        VTaskMgr::Get()->DeInit();
        fTaskMgrInited = false;
    }
    if (fFileKindsInited)
    {
        VFileKindManager::DeInit();
        fFileKindsInited = false;
    }
    EmptyInitHook();
    if (fProgressInited)
    {
        VProgressManager::Deinit();
        fProgressInited = false;
    }
    fIntlMgr.Clear();
    EmptyInitHook();
}

bool VProcess::DoCheckSystemVersion(int32_t inVersion)
{
    if (VSystem::IsSystemVersionOrAbove(inVersion) && _Step(1))
    {
        return true;
    }
    ShowStartUpAlert(inVersion == 14 ? "This application needs at least OS X 10.12"
                                     : "This application needs at least OS X 10.7");
    return false;
}

bool VProcess::_CheckCaseInsensitiveInstallFolder()
{
    // Linux file systems are case-sensitive and the bundle works on them (its code looks names up
    // exactly as written), so the check always passes here; the alert stays for a failure.
    if (_Step(7))
    {
        return true;
    }
    ShowStartUpAlert("Please install the application on a case insensitive file system.");
    return false;
}

bool VProcess::_Init_FileSystems()
{
    // The Documents folder when it exists, else the home folder: the file system is never missing.
    VRefPtr<VFolder> documents(VFolder::RetainSystemFolder(eFK_UserDocuments, false), true);
    if (!documents || !documents->Exists())
    {
        documents.Adopt(VFolder::RetainSystemFolder(eFK_Home, false));
    }
    if (!documents ||
        fFileSystems->RegisterFileSystem(VString(".USER_HOME_DIRECTORY"), documents.Get(), 16) != VE_OK)
    {
        return false;
    }
    // A program outside a bundle, or a bundle without resources, has no resources folder: then
    // there is neither the resources file system nor a definition file to read.
    VRefPtr<VFolder> resources(RetainFolder(kFolderResources), true);
    if (!resources || !resources->Exists())
    {
        return true;
    }
    if (fFileSystems->RegisterFileSystem(VString(".PRODUCT_RESOURCES"), resources.Get(), 0) != VE_OK)
    {
        return false;
    }
    VRefPtr<VFile> definitions(new VFile(*resources, VString("fileSystems.json"), FPS_POSIX), true);
    if (!definitions->Exists())
    {
        return true;
    }
    return fFileSystems->LoadFromDefinitionFile(definitions.Get()) == VE_OK;
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
    return fProductName;
}

VRefPtr<VJSONObject> VProcess::GetClassObject(const VString& inStoreName, const VString& inClassName) const
{
    if (fClassStore && fClassStore->GetName().EqualToStringRaw(inStoreName))
    {
        return fClassStore->GetClassObject(inClassName);
    }
    return {};
}

void VProcess::CleanBootLogListener()
{
    if (fLogger && fBootLogListener)
    {
        for (const VValueBag* record : fBootLogListener->GetRecords())
        {
            fLogger->LogBag(const_cast<VValueBag*>(record));
        }
        fLogger->RemoveLogListener(fBootLogListener.Get());
        fBootLogListener.Clear();
    }
}

// ---- Product version ----

void VProcess::GetBuildNumber(const VString& inVersion, VString& outBuild)
{
    outBuild.Clear();
    int32_t found = inVersion.Find(VString("build "));
    if (found > 0)
    {
        inVersion.GetSubString(found + 6, inVersion.GetLength() - found - 5, outBuild);
        outBuild.Trim();
    }
}

int32_t VProcess::GetChangeListNumber(const VString& inVersion)
{
    VString build;
    GetBuildNumber(inVersion, build);
    int32_t dot = build.Find(VString("."));
    if (dot <= 0)
    {
        return 0;
    }
    VString after;
    build.GetSubString(dot + 1, build.GetLength() - dot, after);
    return after.GetLong();
}

void VProcess::GetShortProductVersion(const VString& inVersion, VString& outVersion)
{
    outVersion = inVersion;
    int32_t found = inVersion.Find(VString("build "));
    if (found > 0)
    {
        outVersion.Truncate(found - 1);
    }
    outVersion.Trim();
}

void VProcess::GetMainProductVersion(const VString& inVersion, VString& outVersion)
{
    GetShortProductVersion(inVersion, outVersion);
    int32_t dot = outVersion.Find(VString("."));
    if (dot > 0)
    {
        outVersion.Truncate(dot - 1);
    }
}

void VProcess::GetBuildNumber(VString& outBuild) const
{
    GetBuildNumber(fProductVersion, outBuild);
}

int32_t VProcess::GetChangeListNumber() const
{
    return GetChangeListNumber(fProductVersion);
}

void VProcess::GetShortProductVersion(VString& outVersion) const
{
    GetShortProductVersion(fProductVersion, outVersion);
}

void VProcess::GetMainProductVersion(VString& outVersion) const
{
    GetMainProductVersion(fProductVersion, outVersion);
}

// ---- Folders ----

VFolder* VProcess::RetainProductSystemFolder(ESystemFolderKind inKind, bool inCreate) const
{
    ESystemFolderKind fallback = eFK_None;
    switch (inKind)
    {
    case eFK_CommonPreferences:
        fallback = eFK_UserPreferences;
        break;
    case eFK_CommonApplicationData:
        fallback = eFK_UserApplicationData;
        break;
    case eFK_CommonCache:
        fallback = eFK_UserCache;
        break;
    case eFK_UserDocuments:
    case eFK_Temporary:
    case eFK_UserPreferences:
    case eFK_UserApplicationData:
    case eFK_UserCache:
    case eFK_Home:
        break;
    default:
        return VFolder::RetainSystemFolder(inKind, inCreate);
    }
    VRefPtr<VFolder> system(VFolder::RetainSystemFolder(inKind, inCreate), true);
    if (!system)
    {
        return nullptr;
    }
    VRefPtr<VFolder> folder = system;
    if (!fProductFolderName.IsEmpty())
    {
        folder.Adopt(VFolder::CreateAndResolveAlias(*system, fProductFolderName));
    }
    if (folder && folder->Exists())
    {
        return folder.Forget();
    }
    if (!inCreate || !folder)
    {
        return nullptr;
    }
    if (fallback == eFK_None)
    {
        return folder->CreateRecursive() == VE_OK ? folder.Forget() : nullptr;
    }
    {
        // A common folder is often not writable by the user: its failure is not an error, the
        // user's folder of the same use serves instead.
        StErrorContextInstaller dropped(false, true);
        if (folder->CreateRecursive() == VE_OK)
        {
            return folder.Forget();
        }
    }
    return RetainProductSystemFolder(fallback, true);
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

// ---- Running ----

void VProcess::Run()
{
    const VString failure("VApplication::DoInit failed");
    if (!fInitCalled && !VTaskMgr::IsInited() && !Init(0x50))
    {
        _ThrowError(MakeVError(kCOMPONENT_ZORN, 4), &failure);
        return;
    }
    VTask* task = VTask::GetCurrent();
    if (task == nullptr || !task->IsMain() || task->GetState() != TaskState_Running)
    {
        return;
    }
    if (!Init(0x50))
    {
        _ThrowError(MakeVError(kCOMPONENT_ZORN, 4), &failure);
        return;
    }
    task->FlushErrors();
    // The process was built before the calling thread became the main task.
    SetMessagingTask(task->GetID());
    StartMessaging();
    DoRun();
    DoQuit();
    task->Kill();
    StopMessaging();
    // The application's work is over: the logger's delivery ends here, not in the destructor.
    StopLoggerTask();
}

void VProcess::StopLoggerTask()
{
    if (fLogger)
    {
        fLogger->Stop();
    }
}

bool VProcess::IsRunning()
{
    VTask* mainTask = VTaskMgr::IsInited() ? VTaskMgr::Get()->GetMainTask() : nullptr;
    return mainTask != nullptr && !mainTask->IsDying();
}

int32_t VProcess::GetSystemID()
{
    return XPosixProcessIPC::GetSystemID();
}

bool VProcess::IsProcessRunning(int32_t inProcessID)
{
    return XPosixProcessIPC::IsProcessRunning(inProcessID);
}

VFolder* VProcess::RetainFolder(uint32_t inKind) const
{
    // The relative place of each kind from the executable's folder.
    static constexpr struct
    {
        uint32_t fKind;
        const char* fRelative;
    } kPlaces[] = {
        {kFolderExecutable, ""},
        {kFolderContents, "../"},
        {kFolderBundle, "../../"},
        {kFolderResources, "../Resources/"},
        {kFolderNativeComponents, "../Native Components/"},
        {kFolderDTDs, "../Resources/DTD/"},
        {kFolderXSDs, "../Resources/XSD/"},
        {kFolderXSLs, "../Resources/XSL/"},
        {kFolderJSONSchemas, "../Resources/JSONSchemas/"},
    };
    const char* relative = nullptr;
    for (const auto& place : kPlaces)
    {
        if (place.fKind == inKind)
        {
            relative = place.fRelative;
        }
    }
    if (relative == nullptr)
    {
        return nullptr;
    }
    VFilePath executableFolder;
    GetExecutableFolderPath(executableFolder);
    if (!executableFolder.IsValid())
    {
        return nullptr;
    }
    std::string path = to_string(executableFolder.GetPath(FPS_POSIX));
    // Parent steps are taken on the text, so a folder that does not exist still has its path.
    std::string_view rest = relative;
    for (; rest.starts_with("../"); rest.remove_prefix(3))
    {
        if (path.size() <= 1)
        {
            return nullptr;
        }
        path.resize(path.find_last_of('/', path.size() - 2) + 1);
    }
    path += rest;
    VFilePath folder;
    XLinuxFile::GetFilePathFromPosixPath(path.c_str(), true, folder);
    return folder.IsValid() ? new VFolder(folder) : nullptr;
}

void VProcess::GetExecutableFilePath(VFilePath& outPath) const
{
    outPath.Clear();
    const std::string path = platform::GetMainExecutablePath();
    if (!path.empty())
    {
        XLinuxFile::GetFilePathFromPosixPath(path.c_str(), false, outPath);
    }
}

VFile* VProcess::RetainExecutableFile() const
{
    VFilePath path;
    GetExecutableFilePath(path);
    return path.IsValid() ? new VFile(path) : nullptr;
}

void VProcess::GetExecutableFolderPath(VFilePath& outPath) const
{
    GetExecutableFilePath(outPath);
    if (outPath.IsValid())
    {
        outPath.ToFolder();
    }
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
