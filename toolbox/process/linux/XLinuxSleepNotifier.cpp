// Linux back end of the sleep notifier (see the header).
#include "toolbox/process/linux/XLinuxSleepNotifier.h"

#include "toolbox/files/linux/XLinuxErrno.h"
#include "toolbox/process/VSleepNotifier.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <system_error>
#include <systemd/sd-bus.h>
#include <unistd.h>

namespace zorn
{

namespace
{

constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kManagerPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";

int OnPrepareForSleep(sd_bus_message* inMessage, void* inSelf, sd_bus_error* /*outError*/)
{
    int sleeping = 0;
    if (sd_bus_message_read(inMessage, "b", &sleeping) >= 0)
    {
        static_cast<XLinuxSleepNotifier*>(inSelf)->HandlePrepareForSleep(sleeping != 0);
    }
    return 0;
}

} // namespace

XLinuxSleepNotifier::~XLinuxSleepNotifier()
{
    if (fThread.joinable())
    {
        fStopping.store(true, std::memory_order_release);
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t written = ::write(fWakeEvent, &one, sizeof(one));
        fThread.join();
    }
    _ReleaseInhibitor();
    if (fMatch != nullptr)
    {
        sd_bus_slot_unref(fMatch);
    }
    if (fBus != nullptr)
    {
        sd_bus_flush_close_unref(fBus);
    }
    if (fWakeEvent >= 0)
    {
        ::close(fWakeEvent);
    }
}

VError XLinuxSleepNotifier::Init()
{
    if (fBus != nullptr)
    {
        return VE_OK;
    }
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0)
    {
        return VE_OK; // no system bus: no source
    }
    int hasOwner = 0;
    sd_bus_error error{}; // SD_BUS_ERROR_NULL, without its C compound literal
    sd_bus_message* reply = nullptr;
    if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "NameHasOwner", &error, &reply, "s", kLogind) < 0 ||
        sd_bus_message_read(reply, "b", &hasOwner) < 0 || hasOwner == 0)
    {
        sd_bus_error_free(&error);
        sd_bus_message_unref(reply);
        sd_bus_flush_close_unref(bus);
        return VE_OK; // no logind: no source
    }
    sd_bus_message_unref(reply);
    if (sd_bus_match_signal(bus, &fMatch, kLogind, kManagerPath, kManager, "PrepareForSleep",
                            OnPrepareForSleep, this) < 0)
    {
        sd_bus_flush_close_unref(bus);
        return VE_OK;
    }
    fBus = bus;
    // Taken before the thread starts, so that a sleep that comes right away is already delayed.
    _TakeInhibitor();
    int failure = 0;
    fWakeEvent = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fWakeEvent < 0)
    {
        failure = errno;
    }
    else
    {
        try
        {
            fThread = std::thread([this] { _Run(); });
            ::pthread_setname_np(fThread.native_handle(), "Sleep notifier");
        }
        catch (const std::system_error& inError)
        {
            failure = inError.code().value() != 0 ? inError.code().value() : EAGAIN;
        }
    }
    if (failure != 0)
    {
        _ReleaseInhibitor();
        fMatch = sd_bus_slot_unref(fMatch);
        fBus = sd_bus_flush_close_unref(fBus);
        if (fWakeEvent >= 0)
        {
            ::close(fWakeEvent);
            fWakeEvent = -1;
        }
        return xlinux::Errno(failure);
    }
    return VE_OK;
}

void XLinuxSleepNotifier::SetOwner(VSleepNotifier* inOwner)
{
    std::lock_guard lock(fOwnerMutex);
    fOwner = inOwner;
}

void XLinuxSleepNotifier::_TakeInhibitor()
{
    if (fInhibitor >= 0)
    {
        return;
    }
    sd_bus_error error{}; // SD_BUS_ERROR_NULL, without its C compound literal
    sd_bus_message* reply = nullptr;
    int descriptor = -1;
    if (sd_bus_call_method(fBus, kLogind, kManagerPath, kManager, "Inhibit", &error, &reply, "ssss", "sleep",
                           "zorn", "Telling the application that the system goes to sleep", "delay") >= 0 &&
        sd_bus_message_read(reply, "h", &descriptor) >= 0)
    {
        // The reply owns its descriptor: keep a copy of our own.
        fInhibitor = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
}

void XLinuxSleepNotifier::_ReleaseInhibitor()
{
    if (fInhibitor >= 0)
    {
        ::close(fInhibitor);
        fInhibitor = -1;
    }
}

void XLinuxSleepNotifier::HandlePrepareForSleep(bool inSleeping)
{
    if (inSleeping)
    {
        FeedPowerMessage(kSystemWillSleep);
        // The allow-change step: logind sleeps once no delay inhibitor is left.
        _ReleaseInhibitor();
    }
    else
    {
        FeedPowerMessage(kSystemHasPoweredOn);
        _TakeInhibitor();
    }
}

void XLinuxSleepNotifier::_Run()
{
    while (!fStopping.load(std::memory_order_acquire))
    {
        int processed;
        while ((processed = sd_bus_process(fBus, nullptr)) > 0)
        {
        }
        if (processed < 0)
        {
            return; // the bus went away: no more notifications
        }
        uint64_t timeout = UINT64_MAX;
        sd_bus_get_timeout(fBus, &timeout);
        int wait = -1;
        if (timeout != UINT64_MAX)
        {
            timespec now;
            ::clock_gettime(CLOCK_MONOTONIC, &now);
            const uint64_t nowUs =
                static_cast<uint64_t>(now.tv_sec) * 1000000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
            wait = timeout <= nowUs
                       ? 0
                       : static_cast<int>(std::min<uint64_t>((timeout - nowUs + 999) / 1000, INT_MAX));
        }
        const int events = sd_bus_get_events(fBus);
        struct pollfd descriptors[2] = {
            {sd_bus_get_fd(fBus), static_cast<short>(events > 0 ? events : POLLIN), 0},
            {fWakeEvent, POLLIN, 0},
        };
        if (::poll(descriptors, 2, wait) < 0 && errno != EINTR)
        {
            return;
        }
    }
}

bool XLinuxSleepNotifier::FeedPowerMessage(uint32_t inMessageType)
{
    std::lock_guard lock(fOwnerMutex);
    if (fOwner == nullptr)
    {
        return false;
    }
    switch (inMessageType)
    {
    case kSystemWillSleep:
        fOwner->HaveSleepNotification();
        return true; // once every handler returned
    case kCanSystemSleep:
        return true;
    case kSystemHasPoweredOn:
        fOwner->HaveWakeupNotification();
        return false;
    default:
        return false;
    }
}

} // namespace zorn
