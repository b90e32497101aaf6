// Linux back end of the sleep notifier, on systemd-logind. Init connects to the system bus
// (sd-bus; DBUS_SYSTEM_BUS_ADDRESS names another one), and when logind is there it takes a
// "delay" inhibitor of sleep and listens on a thread of its own for the Manager's
// PrepareForSleep(b) signal:
// - true (the system will sleep): the owner's sleep notification, then the inhibitor is released,
//   which lets sleep proceed once every handler returned;
// - false (the system woke up): the owner's wake-up notification, then a new inhibitor is taken,
//   ready for the next sleep.
// Without a system bus or without logind (containers, minimal servers) Init still succeeds: there
// is no source and nothing fires by itself. A failed inhibitor (logind refuses it) leaves the
// notifications as they are; sleep is then merely not delayed.
//
// FeedPowerMessage takes the power messages of the design's power source, for tests:
// - 0xE0000280 (the system will sleep): the owner's sleep notification, then the change is allowed;
// - 0xE0000270 (the system can sleep): allowed at once, never vetoed;
// - 0xE0000300 (the system has powered on): the owner's wake-up notification;
// - anything else is ignored.
//
// The owner is set after Init and cleared before the owner goes; the listening thread reads it
// under a mutex, which is held while the owner's hooks run, so clearing it waits for a running
// notification. The bus connection belongs to the thread once it runs; the destructor stops the
// thread (an eventfd wakes it) before it closes the bus and the inhibitor.
#pragma once

#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/errors/VError.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

struct sd_bus;
struct sd_bus_slot;

namespace zorn
{

class VSleepNotifier;

class XLinuxSleepNotifier : public VObject
{
public:
    static constexpr uint32_t kSystemWillSleep = 0xE0000280;
    static constexpr uint32_t kCanSystemSleep = 0xE0000270;
    static constexpr uint32_t kSystemHasPoweredOn = 0xE0000300;

    XLinuxSleepNotifier() = default;
    ~XLinuxSleepNotifier() override;
    XLinuxSleepNotifier(const XLinuxSleepNotifier&) = delete;
    XLinuxSleepNotifier& operator=(const XLinuxSleepNotifier&) = delete;

    // Listens to logind when it is there; 0 in any case but a thread that cannot start
    // (('POSX', errno), nothing left behind).
    VError Init();
    // Not retained.
    void SetOwner(VSleepNotifier* inOwner);

    // Whether Init found logind and listens to it.
    bool IsListening() const { return fThread.joinable(); }

    // Handles one power message; whether it allowed a power change. Nothing without an owner.
    bool FeedPowerMessage(uint32_t inMessageType);
    // PrepareForSleep(inSleeping), on the listening thread: the notification, then the inhibitor
    // released (sleeping) or taken again (woken up).
    void HandlePrepareForSleep(bool inSleeping);

private:
    void _TakeInhibitor();
    void _ReleaseInhibitor();
    void _Run();

    std::mutex fOwnerMutex;
    VSleepNotifier* fOwner = nullptr;
    sd_bus* fBus = nullptr;
    sd_bus_slot* fMatch = nullptr;
    int fInhibitor = -1;
    int fWakeEvent = -1;
    std::atomic<bool> fStopping{false};
    std::thread fThread;
};

} // namespace zorn
