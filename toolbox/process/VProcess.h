// VProcess: the application object, one per process. While it exists it is the process that the
// runtime asks for its services (IProcessServices): it registers itself when built and
// unregisters when destroyed. It keeps the registry of activity tokens, which tells whether the
// program is busy, and owns the metrics manager, which records nothing until it is started.
//
// The services that start-up creates (international manager, logger, class store) are null until
// it has run. A process built directly, as tests do, has none of them and runs no start-up step.
#pragma once

#include "toolbox/files/VFolder.h"
#include "toolbox/json/VJSONClass.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/errors/ILogger.h"
#include "toolbox/kernel/hooks/IProcessServices.h"
#include "toolbox/kernel/messages/IMessageable.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>

namespace zorn
{

class VFile;
class VFolder;
class VString;
class VMetricsManager;
class VFileSystemNamespace;
class VLogger;
class VBootLogListener;

class VProcess : public VObject, public IProcessServices, public virtual IMessageable
{
public:
    VProcess();
    ~VProcess() override;
    VProcess(const VProcess&) = delete;
    VProcess& operator=(const VProcess&) = delete;

    // The running process, or null before one is built and after it is destroyed.
    static VProcess* Get();

    // The argument count and vector main received, stored before any task starts
    // (VProcessIPC::SetCommandLine) and read when the IPC process builds its argument list. The
    // vector is main's own: it lives as long as the program.
    static int sProcessCommandLineArgc;
    static char** sProcessCommandLineArgv;

    // Start-up, on the main thread, once: later calls return the first result. The steps run in a
    // fixed order and the first failure stops them: the system version check, the instance and
    // the fibers flag (flag 2; both set even when the check failed), the international manager,
    // the file kinds, the install-folder case check, the task manager (the calling thread becomes
    // the main task), the debug manager, the progress manager, the file systems, the class store,
    // and with flag 16 the logger with a boot listener. The version and case checks show an alert
    // "Initialization failed" before failing.
    virtual bool Init(uint32_t inFlags);
    bool IsInitCalled() const { return fInitCalled; }
    // The root file-system namespace: ".USER_HOME_DIRECTORY" (the Documents folder) and, inside a
    // bundle with a resources folder, ".PRODUCT_RESOURCES" and the file systems its
    // "fileSystems.json" defines.
    VFileSystemNamespace* GetFileSystemNamespace() const { return fFileSystems.Get(); }

    // Start-up steps are numbered 1 to 14 in their order. Tests observe them: the hook is called
    // before each step with its number and a false answer makes that step fail as a real failure
    // would (the version and case checks then show their alerts). Null: no hook.
    using InitStepHook = bool (*)(int inStep);
    static void SetInitStepHookForTests(InitStepHook inHook);

    VIntlMgr* GetIntlMgr() const override;
    ILogger* GetLogger() const override;
    // The logger when it exists and would log a record of that level, else null: callers skip
    // building records nobody keeps.
    ILogger* GetLogger(EMessageLevel inLevel) const;
    // The process localizer, set by the application; not owned.
    ILocalizer* GetLocalizer() const override;
    void SetLocalizer(ILocalizer* inLocalizer);
    VJSONClassStore* GetClassStore() const override;
    bool IsFibersEnabled() const override;
    // The product name (the main bundle's "CFBundleName"), empty outside a bundle.
    VString GetLogSourceIdentifier() const override;
    // The main bundle's values, read at construction; empty when missing. The product folder name
    // (the product name) names the product's folders in system folders.
    const VString& GetProductName() const { return fProductName; }
    const VString& GetProductVersion() const { return fProductVersion; }
    const VString& GetProductFolderName() const { return fProductFolderName; }

    // Parts of the product version "<short> build <build>", e.g. "1.2 build 34.5": the build
    // "34.5" (empty without " build "), the change list 5 (the number after the build's first
    // ".", 0 without one), the short version "1.2" (all of it without "build "), the main
    // version "1" (the short version up to its first "."). Texts are trimmed of white space.
    void GetBuildNumber(VString& outBuild) const;
    int32_t GetChangeListNumber() const;
    void GetShortProductVersion(VString& outVersion) const;
    void GetMainProductVersion(VString& outVersion) const;
    static void GetBuildNumber(const VString& inVersion, VString& outBuild);
    static int32_t GetChangeListNumber(const VString& inVersion);
    static void GetShortProductVersion(const VString& inVersion, VString& outVersion);
    static void GetMainProductVersion(const VString& inVersion, VString& outVersion);

    // The folder named after the product in the system folder of inKind (one reference), for the
    // kinds user documents, temporary, common and user preferences, common and user application
    // data, common and user cache, and home; a symbolic link of that name to a folder leads there.
    // A missing folder gives null without inCreate, else it is made: when that fails, the common
    // kinds (preferences, application data, cache) fall back to their user kind, the others give
    // null. Any other kind gives the system folder itself. Outside a bundle (no product name) the
    // folders are the system folders themselves.
    VFolder* RetainProductSystemFolder(ESystemFolderKind inKind, bool inCreate) const;

    // The class object of inClassName when inStoreName is exactly the name of the process's class
    // store, else null.
    VRefPtr<VJSONObject> GetClassObject(const VString& inStoreName, const VString& inClassName) const;
    // Hands the records kept since start-up to the logger and drops the boot listener.
    void CleanBootLogListener();
    VBootLogListener* GetBootLogListener() const { return fBootLogListener.Get(); }

    void RegisterActivityToken(VActivityToken* inToken) override;
    void UnregisterActivityToken(VActivityToken* inToken) override;
    // Whether a token is registered, or the last one went away less than inMilliseconds ago.
    bool HasSomeActivityTokens(uint32_t inMilliseconds);

    // Folder kinds of RetainFolder, from the folder of the running executable (Contents/MacOS in a
    // bundle): 'EXEC' that folder, 'PLST' its parent (Contents), 'BNDL' the bundle, 'RSRC'
    // Contents/Resources, 'NCMP' Contents/Native Components, and in the resources folder 'DTDs'
    // DTD, 'XSDs' XSD, 'XSLs' XSL and 'JSNs' JSONSchemas. No kind checks that its folder exists.
    static constexpr uint32_t kFolderExecutable = 0x45584543;       // 'EXEC'
    static constexpr uint32_t kFolderContents = 0x504C5354;         // 'PLST'
    static constexpr uint32_t kFolderBundle = 0x424E444C;           // 'BNDL'
    static constexpr uint32_t kFolderResources = 0x52535243;        // 'RSRC'
    static constexpr uint32_t kFolderNativeComponents = 0x4E434D50; // 'NCMP'
    static constexpr uint32_t kFolderDTDs = 0x44544473;             // 'DTDs'
    static constexpr uint32_t kFolderXSDs = 0x58534473;             // 'XSDs'
    static constexpr uint32_t kFolderXSLs = 0x58534C73;             // 'XSLs'
    static constexpr uint32_t kFolderJSONSchemas = 0x4A534E73;      // 'JSNs'
    // A new folder (one reference) of the kind, null for a kind not known here or when the
    // executable's path is not known.
    VFolder* RetainFolder(uint32_t inKind) const;
    // The running program's executable (resolved from the system, symbolic links followed), a
    // file for it (one reference) and its folder's path. Invalid paths and null when the system
    // does not tell.
    void GetExecutableFilePath(VFilePath& outPath) const;
    VFile* RetainExecutableFile() const;
    void GetExecutableFolderPath(VFilePath& outPath) const;
    // A new file (one reference) for inName in the folder of inKind when it exists there, else in
    // the folder of inSecondKind (when not 0) when it exists there, else null.
    VFile* RetainFile(uint32_t inKind, const VString& inName, uint32_t inSecondKind = 0) const;
    // Asks the process to quit: kills the main task and wakes its message queue, so that a loop
    // serving the main task's messages sees the process stop. The reason is not used. Any thread
    // may call it (the termination-signal watcher does); nothing without a main task.
    virtual void QuitAsynchronously(const VString* inReason);

    // Runs the application on the main task, once it runs (elsewhere: nothing): start-up with
    // flags 0x50 when it has not run (first of all when no task manager runs yet, which makes the
    // calling thread the main task), then the task's errors are flushed, messaging starts, DoRun
    // and DoQuit run, the main task is killed, messaging stops and the logger stops delivering
    // (Flush still delivers). A failed start-up raises ('zorn', 4) "VApplication::DoInit failed"
    // instead; raised before any task exists, that error is dropped (errors need a task).
    void Run();
    // Whether the main task exists and is not dying.
    static bool IsRunning();
    static int32_t GetSystemID();
    // Whether a process of that ID exists (one of another user included).
    static bool IsProcessRunning(int32_t inProcessID);

    // The process's metrics manager, made with the process.
    VMetricsManager* GetMetricsManager() const { return fMetricsManager.get(); }

protected:
    // Whether the system is at least inVersion (14 for the first one this program needs); shows
    // the start-up alert otherwise. Always true on Linux.
    virtual bool DoCheckSystemVersion(int32_t inVersion);
    // The application's work and its end; nothing here.
    virtual void DoRun() {}
    virtual void DoQuit() {}
    // Ends the logger's delivery task (records filed later are delivered by Flush). Called once
    // the application's work is over, and by a subclass whose own start-up fails after this
    // class's succeeded: the task calls the process (its activity tokens), which must not happen
    // while a subclass's part is being destroyed.
    void StopLoggerTask();

private:
    bool _Init(uint32_t inFlags);
    void _DeInit();
    bool _CheckCaseInsensitiveInstallFolder();
    bool _Init_FileSystems();
    static bool _Step(int inStep);

    VString fProductName;
    VString fProductVersion;
    VString fProductFolderName;
    bool fInitCalled = false;
    bool fInitResult = false;
    // What start-up made, undone by _DeInit in reverse order.
    bool fFileKindsInited = false;
    bool fTaskMgrInited = false;
    bool fDebugMgrInited = false;
    bool fProgressInited = false;
    VRefPtr<VIntlMgr> fIntlMgr;
    VRefPtr<VFileSystemNamespace> fFileSystems;
    VRefPtr<VLogger> fLogger;
    VRefPtr<VBootLogListener> fBootLogListener;
    // Guards the two token fields. The toolbox's VCriticalSection takes its place once the lock
    // classes exist.
    std::mutex fTokenMutex;
    std::set<VActivityToken*> fActivityTokens;
    // VSystem::GetCurrentTime when the set last became empty; the construction time at first.
    uint32_t fLastTokenRelease;
    bool fFibers = false;
    std::atomic<ILocalizer*> fLocalizer{nullptr};
    VRefPtr<VJSONClassStore> fClassStore; // made at construction, with its root classes
    std::unique_ptr<VMetricsManager> fMetricsManager;
};

} // namespace zorn
