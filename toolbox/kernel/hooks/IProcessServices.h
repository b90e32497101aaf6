// IProcessServices: what the runtime asks of the running process object (the international
// settings that tasks clone, the logger, the localizer, the script class store, the fiber
// setting). The process object lives in the process layer; it registers itself here while it
// exists, so that kernel code can reach it without depending on that layer (the registration is an
// entry of VKernelHooks). Get() is null before
// a process starts and in programs that have none; every caller must allow for that.
#pragma once

namespace zorn
{

class VIntlMgr;
class ILogger;
class ILocalizer;
class VJSONClassStore;
class IJSONSingletonProvider;
class VActivityToken;
class VString;

class IProcessServices
{
public:
    virtual ~IProcessServices() = default;

    // Each may be null until the service it names exists.
    virtual VIntlMgr* GetIntlMgr() const = 0;
    virtual ILogger* GetLogger() const = 0;
    virtual ILocalizer* GetLocalizer() const = 0;
    virtual VJSONClassStore* GetClassStore() const = 0;
    // The provider of script classes' plain and session singletons, which a script host sets up;
    // null otherwise (those singletons are then null).
    virtual IJSONSingletonProvider* GetSingletonProvider() const { return nullptr; }
    // Whether tasks may run as fibers; false unless the process enables them.
    virtual bool IsFibersEnabled() const = 0;

    // The "source" of log records that name none (the product name); empty by default.
    virtual VString GetLogSourceIdentifier() const;

    // Activity tokens register themselves while they exist. A process that keeps no registry
    // ignores them.
    virtual void RegisterActivityToken(VActivityToken* /*inToken*/) {}
    virtual void UnregisterActivityToken(VActivityToken* /*inToken*/) {}

    // The registered process, or null.
    static IProcessServices* Get();
    // Registers the process (null unregisters). Returns the previous one.
    static IProcessServices* Set(IProcessServices* inProcess);
};

} // namespace zorn
