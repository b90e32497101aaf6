// VProcess: the application object, one per process. While it exists it is the process that the
// runtime asks for its services (IProcessServices): it registers itself when built and
// unregisters when destroyed. It keeps the registry of activity tokens, which tells whether the
// program is busy, and owns the metrics manager, which records nothing until it is started.
//
// The services that start-up creates (international manager, logger, class store) are null until
// it has run. A process built directly, as tests do, has none of them and runs no start-up step.
#pragma once

#include "toolbox/json/VJSONClass.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/hooks/IProcessServices.h"

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

class VProcess : public VObject, public IProcessServices
{
public:
    VProcess();
    ~VProcess() override;
    VProcess(const VProcess&) = delete;
    VProcess& operator=(const VProcess&) = delete;

    // The running process, or null before one is built and after it is destroyed.
    static VProcess* Get();

    VIntlMgr* GetIntlMgr() const override;
    ILogger* GetLogger() const override;
    // The process localizer, set by the application; not owned.
    ILocalizer* GetLocalizer() const override;
    void SetLocalizer(ILocalizer* inLocalizer);
    VJSONClassStore* GetClassStore() const override;
    bool IsFibersEnabled() const override;
    // The product name (the main bundle's "CFBundleName"), empty outside a bundle.
    VString GetLogSourceIdentifier() const override;

    void RegisterActivityToken(VActivityToken* inToken) override;
    void UnregisterActivityToken(VActivityToken* inToken) override;
    // Whether a token is registered, or the last one went away less than inMilliseconds ago.
    bool HasSomeActivityTokens(uint32_t inMilliseconds);

    // Folder kinds of RetainFolder: so far 'EXEC', the folder of the running executable.
    static constexpr uint32_t kFolderExecutable = 0x45584543; // 'EXEC'
    // A new folder (one reference) of the kind, null for a kind not known here or when the
    // executable's path is not known.
    VFolder* RetainFolder(uint32_t inKind) const;
    // A new file (one reference) for inName in the folder of inKind when it exists there, else in
    // the folder of inSecondKind (when not 0) when it exists there, else null.
    VFile* RetainFile(uint32_t inKind, const VString& inName, uint32_t inSecondKind = 0) const;
    // Asks the process to quit: kills the main task and wakes its message queue, so that a loop
    // serving the main task's messages sees the process stop. The reason is not used. Any thread
    // may call it (the termination-signal watcher does); nothing without a main task.
    virtual void QuitAsynchronously(const VString* inReason);

    // The process's metrics manager, made with the process.
    VMetricsManager* GetMetricsManager() const { return fMetricsManager.get(); }

private:
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
