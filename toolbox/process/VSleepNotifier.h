// VSleepNotifier: tells registered handlers that the computer is about to sleep or has woken up,
// and notes both events in the process log (level 4, source "sleepNotifications"). The IPC process
// object owns the one instance and initialises it.
//
// On Linux the back end (XLinuxSleepNotifier) listens to systemd-logind's PrepareForSleep on the
// system bus, on a thread of its own, so the hooks run on that thread. Without a system bus or
// logind Init still succeeds and no notification arrives by itself; tests can drive the back end
// with XLinuxSleepNotifier::FeedPowerMessage.
//
// Handlers are kept ordered by address, each with one reference. Notifying copies the set under the
// lock and calls the hooks without it, so a hook may register or unregister handlers; a handler
// removed during a notification may still receive that notification.
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/locks/VCriticalSection.h"
#include "toolbox/kernel/strings/VString.h"

#include <memory>
#include <set>

namespace zorn
{

class XLinuxSleepNotifier;

class VSleepNotifier : public VObject
{
public:
    class ISleepHandler : public IRefCountable
    {
    public:
        // Called before the system sleeps, and after it woke up.
        virtual void WillSleep() = 0;
        virtual void DidWakeUp() = 0;
        virtual VString GetName() const = 0;
    };

    VSleepNotifier();
    ~VSleepNotifier() override;
    VSleepNotifier(const VSleepNotifier&) = delete;
    VSleepNotifier& operator=(const VSleepNotifier&) = delete;

    // Initialises the back end and becomes its owner: 0, else the back end's error (raised);
    // ('zorn', 3) without a back end.
    VError Init();
    XLinuxSleepNotifier* GetBackEnd() const { return fBackEnd.get(); }

    // ('zorn', 3) for null (returned, not raised); otherwise 0, the handler retained once however
    // often it is registered.
    VError RegisterSleepHandler(ISleepHandler* inHandler);
    // ('zorn', 3) for null; otherwise 0, the handler released when it was registered.
    VError UnregisterSleepHandler(ISleepHandler* inHandler);
    VError UnregisterSleepHandlers();
    size_t CountSleepHandlers() const;

    // Called by the back end.
    void HaveSleepNotification();
    void HaveWakeupNotification();

private:
    void _Notify(bool inSleep);

    std::unique_ptr<XLinuxSleepNotifier> fBackEnd;
    std::set<ISleepHandler*> fHandlers; // one reference each
    mutable VCriticalSection fLock;
};

} // namespace zorn
