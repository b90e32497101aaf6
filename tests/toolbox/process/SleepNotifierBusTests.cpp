// The sleep notifier against a logind of our own: a private dbus-daemon stands for the system bus
// (DBUS_SYSTEM_BUS_ADDRESS), and a fake login manager on it hands out "delay" inhibitors and emits
// PrepareForSleep. Also: no bus at all, and a bus without logind.
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/process/VSleepNotifier.h"
#include "toolbox/process/linux/XLinuxSleepNotifier.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace zorn
{
namespace
{

using test::WaitFor;

// A dbus-daemon on a socket in a fresh folder, gone with the object.
class PrivateBus
{
public:
    PrivateBus()
    {
        char folder[] = "/tmp/zorn-bus-XXXXXX";
        if (::mkdtemp(folder) == nullptr)
        {
            return;
        }
        fFolder = folder;
        const std::string socket = fFolder + "/bus";
        std::ofstream(fFolder + "/bus.conf")
            << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><type>session</type><listen>unix:path="
            << socket
            << "</listen><auth>EXTERNAL</auth>"
               "<policy context=\"default\"><allow send_destination=\"*\"/><allow own=\"*\"/>"
               "<allow receive_sender=\"*\"/></policy></busconfig>\n";
        // The socket file exists from bind() on, before the daemon listens; the address it prints
        // on descriptor 3 comes only once it accepts connections.
        int ready[2];
        if (::pipe2(ready, O_CLOEXEC) != 0)
        {
            return;
        }
        const std::string config = "--config-file=" + fFolder + "/bus.conf";
        const char* arguments[] = {"dbus-daemon", config.c_str(),      "--nofork",
                                   "--nopidfile", "--print-address=3", nullptr};
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_adddup2(&actions, ready[1], 3);
        const int spawned = ::posix_spawnp(&fDaemon, "dbus-daemon", &actions, nullptr,
                                           const_cast<char**>(arguments), environ);
        ::posix_spawn_file_actions_destroy(&actions);
        ::close(ready[1]);
        if (spawned != 0)
        {
            fDaemon = -1;
            ::close(ready[0]);
            return;
        }
        pollfd printed{ready[0], POLLIN, 0};
        char address[512];
        if (::poll(&printed, 1, static_cast<int>(test::Scaled(std::chrono::seconds(30)).count())) == 1 &&
            ::read(ready[0], address, sizeof address) > 0)
        {
            fAddress = "unix:path=" + socket;
        }
        ::close(ready[0]);
    }
    ~PrivateBus()
    {
        if (fDaemon > 0)
        {
            ::kill(fDaemon, SIGTERM);
            ::waitpid(fDaemon, nullptr, 0);
        }
        if (!fFolder.empty())
        {
            std::error_code ignored;
            std::filesystem::remove_all(fFolder, ignored);
        }
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // Empty when the daemon did not start.
    const std::string& Address() const { return fAddress; }

private:
    std::string fFolder;
    std::string fAddress;
    pid_t fDaemon = -1;
};

// The system bus address for the notifier, for the life of the object.
class StSystemBus
{
public:
    explicit StSystemBus(const std::string& inAddress)
    {
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", inAddress.c_str(), 1);
    }
    ~StSystemBus() { ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS"); }
};

// The login manager's part that the notifier uses: Inhibit hands out the write end of a pipe and
// keeps the read end, which sees the end of the pipe once every copy of the write end is closed.
// Serves its bus on a thread of its own.
class FakeLogind
{
public:
    explicit FakeLogind(const std::string& inAddress)
    {
        if (sd_bus_new(&fBus) < 0 || sd_bus_set_address(fBus, inAddress.c_str()) < 0 ||
            sd_bus_set_bus_client(fBus, 1) < 0 || sd_bus_start(fBus) < 0 ||
            sd_bus_add_object_vtable(fBus, nullptr, "/org/freedesktop/login1",
                                     "org.freedesktop.login1.Manager", kVTable, this) < 0 ||
            sd_bus_request_name(fBus, "org.freedesktop.login1", 0) < 0)
        {
            fBus = sd_bus_flush_close_unref(fBus);
            return;
        }
        fThread = std::thread([this] { _Serve(); });
    }
    ~FakeLogind()
    {
        fStopping = true;
        if (fThread.joinable())
        {
            fThread.join();
        }
        for (int descriptor : fHeld)
        {
            ::close(descriptor);
        }
        sd_bus_flush_close_unref(fBus);
    }
    FakeLogind(const FakeLogind&) = delete;
    FakeLogind& operator=(const FakeLogind&) = delete;

    bool IsRunning() const { return fThread.joinable(); }
    // Inhibitors handed out, and those still held by their taker.
    int CountTaken() const { return fTaken.load(); }
    int CountHeld()
    {
        std::lock_guard lock(fMutex);
        int held = 0;
        for (int descriptor : fHeld)
        {
            struct pollfd state = {descriptor, POLLIN, 0};
            held += ::poll(&state, 1, 0) == 0 ? 1 : 0;
        }
        return held;
    }
    // Emits PrepareForSleep(inSleeping) from the serving thread.
    void Emit(bool inSleeping)
    {
        std::lock_guard lock(fMutex);
        fToEmit.push_back(inSleeping);
    }

private:
    static int _Inhibit(sd_bus_message* inCall, void* inSelf, sd_bus_error* /*outError*/)
    {
        auto* self = static_cast<FakeLogind*>(inSelf);
        const char* what = nullptr;
        const char* who = nullptr;
        const char* why = nullptr;
        const char* mode = nullptr;
        int ends[2];
        if (sd_bus_message_read(inCall, "ssss", &what, &who, &why, &mode) < 0 ||
            std::string(what) != "sleep" || std::string(mode) != "delay" || ::pipe2(ends, O_CLOEXEC) != 0)
        {
            return -EINVAL;
        }
        // Counted taken before it is counted held: a test that sees it held sees it taken.
        ++self->fTaken;
        {
            std::lock_guard lock(self->fMutex);
            self->fHeld.push_back(ends[0]);
        }
        const int result = sd_bus_reply_method_return(inCall, "h", ends[1]);
        ::close(ends[1]); // the reply sent its own copy
        return result;
    }

    void _Serve()
    {
        while (!fStopping)
        {
            std::vector<bool> toEmit;
            {
                std::lock_guard lock(fMutex);
                toEmit.swap(fToEmit);
            }
            for (bool sleeping : toEmit)
            {
                sd_bus_emit_signal(fBus, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                   "PrepareForSleep", "b", sleeping ? 1 : 0);
            }
            while (sd_bus_process(fBus, nullptr) > 0)
            {
            }
            sd_bus_wait(fBus, 10000); // microseconds: looks at the stop flag and the signals to emit
        }
    }

    static const sd_bus_vtable kVTable[];

    sd_bus* fBus = nullptr;
    std::thread fThread;
    std::atomic<bool> fStopping{false};
    std::atomic<int> fTaken{0};
    std::mutex fMutex;
    std::vector<int> fHeld;
    std::vector<bool> fToEmit;
};

const sd_bus_vtable FakeLogind::kVTable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Inhibit", "ssss", "h", FakeLogind::_Inhibit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("PrepareForSleep", "b", 0),
    SD_BUS_VTABLE_END,
};

// Records the hooks, from the notifier's thread.
class Handler : public VSleepNotifier::ISleepHandler
{
public:
    void WillSleep() override { _Add("sleep"); }
    void DidWakeUp() override { _Add("wake"); }
    VString GetName() const override { return VString("bus test"); }
    std::vector<std::string> Journal()
    {
        std::lock_guard lock(fMutex);
        return fJournal;
    }

private:
    void _Add(const char* inWhat)
    {
        std::lock_guard lock(fMutex);
        fJournal.emplace_back(inWhat);
    }
    std::mutex fMutex;
    std::vector<std::string> fJournal;
};

TEST(SleepNotifierBusTests, PrepareForSleepFromLogindIsDeliveredAndReleasesTheInhibitor)
{
    PrivateBus bus;
    if (bus.Address().empty())
    {
        GTEST_SKIP() << "dbus-daemon could not start a private bus";
    }
    StSystemBus systemBus(bus.Address());
    FakeLogind logind(bus.Address());
    ASSERT_TRUE(logind.IsRunning());

    VRefPtr<Handler> handler(new Handler(), true);
    {
        VSleepNotifier notifier;
        ASSERT_EQ(notifier.Init(), VE_OK);
        ASSERT_TRUE(notifier.GetBackEnd()->IsListening());
        notifier.RegisterSleepHandler(handler.Get());
        EXPECT_EQ(logind.CountTaken(), 1);
        EXPECT_EQ(logind.CountHeld(), 1);

        logind.Emit(true);
        ASSERT_TRUE(WaitFor([&] { return handler->Journal().size() == 1 && logind.CountHeld() == 0; }));
        logind.Emit(false);
        ASSERT_TRUE(WaitFor([&] { return handler->Journal().size() == 2 && logind.CountHeld() == 1; }));
        EXPECT_EQ(handler->Journal(), (std::vector<std::string>{"sleep", "wake"}));
        EXPECT_EQ(logind.CountTaken(), 2) << "a new inhibitor after the wake-up";
    }
    // The notifier gone, its inhibitor goes with it. Waited for: the bus daemon and the fake's own
    // connection may still hold copies of the descriptor they passed along for a moment.
    EXPECT_TRUE(WaitFor([&] { return logind.CountHeld() == 0; }));
}

TEST(SleepNotifierBusTests, WithoutLogindOrWithoutABusThereIsNoSource)
{
    PrivateBus bus;
    for (const std::string& address : {std::string("unix:path=/nonexistent/zorn-bus"), bus.Address()})
    {
        if (address.empty())
        {
            continue;
        }
        StSystemBus systemBus(address);
        VSleepNotifier notifier;
        EXPECT_EQ(notifier.Init(), VE_OK) << address;
        EXPECT_FALSE(notifier.GetBackEnd()->IsListening()) << address;
        // It can still be driven.
        EXPECT_TRUE(notifier.GetBackEnd()->FeedPowerMessage(XLinuxSleepNotifier::kSystemWillSleep));
    }
}

} // namespace
} // namespace zorn
