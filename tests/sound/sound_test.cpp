// The sound module on OpenAL Soft's null back-end ("No Output"): the device list, the choice of the
// device from sound.device, the worker's tasks and the refused second switch.
#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "soundfixture.h"

namespace cvar = tavrix::cvar;
namespace sound = tavrix::sound;
using tavrix::test::eventually;
using tavrix::test::soundFixture;

namespace {

[[maybe_unused]] auto* const backend = ::testing::AddGlobalTestEnvironment(new tavrix::test::openALBackend("null"));

// An OpenAL without the all-devices extension: while set, the query answers no for it.
std::atomic<bool> withoutAllDevices{false};

} // namespace

extern "C" ALCboolean alcIsExtensionPresent(ALCdevice* device, const ALCchar* name)
{
    static const auto next = reinterpret_cast<ALCboolean (*)(ALCdevice*, const ALCchar*)>(dlsym(RTLD_NEXT, "alcIsExtensionPresent"));
    if (withoutAllDevices.load() && name && std::strcmp(name, "ALC_ENUMERATE_ALL_EXT") == 0)
        return ALC_FALSE;
    return next(device, name);
}

namespace {

std::string threadName()
{
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof(name));
    return name;
}

class soundTest : public soundFixture {};

TEST_F(soundTest, DeviceListsAreCopiedUpToTheEmptyName)
{
    struct listCase {
        const char* what;
        std::string list;
        std::vector<std::string> names;
    };
    const std::vector<listCase> cases = {
        {"two names", std::string("Speakers\0Headphones\0\0", 21), {"Speakers", "Headphones"}},
        {"one name", std::string("No Output\0\0", 11), {"No Output"}},
        {"empty first name", std::string("\0Speakers\0\0", 11), {}},
    };
    for (const listCase& c : cases) {
        char** names = reinterpret_cast<char**>(uintptr_t(1));
        const uint32_t n = sound::_copyDeviceList(c.list.data(), &names);
        ASSERT_EQ(n, c.names.size()) << c.what;
        if (n == 0) {
            EXPECT_EQ(names, nullptr) << c.what;
        }
        for (uint32_t i = 0; i < n; ++i) {
            EXPECT_EQ(names[i], c.names[i]) << c.what;
            // Each name is a copy of its own, not a pointer into the list.
            EXPECT_TRUE(names[i] < c.list.data() || names[i] >= c.list.data() + c.list.size()) << c.what;
            rofree(names[i]);
        }
        if (names)
            rofree(names);
    }
}

TEST_F(soundTest, StartOpensTheDefaultDeviceAndRemembersIt)
{
    startSound();
    drainWorker();
    EXPECT_NE(sound::getBGMContext(), nullptr);
    EXPECT_EQ(cvarString("sound.device"), "No Output");
    EXPECT_EQ(cvar::getI32("sound.frequency"), 44100);
    EXPECT_EQ(cvar::getI32("sound.refresh"), 30);
    EXPECT_EQ(cvar::getI32("sound.task.allocStep"), 256);
    EXPECT_EQ(cvar::getI32("sound.task.initialAlloc"), 512);
    stopSound();
    EXPECT_EQ(sound::getBGMContext(), nullptr);

    const std::vector<std::string> lines = captured.texts();
    const std::vector<std::string> expected = {"sound: Initialization\n", "sound: found 1 output devices\n",
                                               "sound::worker - begin\n", "sound: Set Output Device to: No Output\n",
                                               "sound::worker - terminating\n"};
    size_t at = 0;
    for (const std::string& line : lines)
        if (at < expected.size() && line == expected[at])
            ++at;
    EXPECT_EQ(at, expected.size()) << ::testing::PrintToString(lines);
    EXPECT_FALSE(captured.contains("sound: Config value of 'sound.device' invalid, using System's default device\n"));
    EXPECT_TRUE(captured.texts(tavrix::util::LOG_ERROR).empty()) << ::testing::PrintToString(lines);
}

TEST_F(soundTest, ConfiguredDeviceMustMatchByteForByte)
{
    struct configCase {
        const char* value;
        bool valid;
    };
    const configCase cases[] = {{"No Output", true}, {"No Outpu", false}, {"No Output ", false}, {"no output", false}};
    for (const configCase& c : cases) {
        captured.clear();
        cvar::set("sound.device", c.value, 0);
        startSound();
        drainWorker();
        EXPECT_EQ(captured.contains("sound: Config value of 'sound.device' invalid, using System's default device\n"), !c.valid) << c.value;
        // The default device opened and is saved in place of the unknown name.
        EXPECT_TRUE(captured.contains("sound: Set Output Device to: No Output\n")) << c.value;
        EXPECT_EQ(cvarString("sound.device"), "No Output") << c.value;
        stopSound();
    }
}

TEST_F(soundTest, SecondSwitchIsRefusedAndKeepsTheDevice)
{
    startSound();
    drainWorker();
    ALCcontext* first = sound::getBGMContext();
    ASSERT_NE(first, nullptr);
    sound::setOutputDevice("No Output");
    // Names that are not listed queue nothing.
    sound::setOutputDevice("No Outpu");
    sound::setOutputDevice("");
    drainWorker();
    EXPECT_EQ(captured.texts(tavrix::util::LOG_ERROR),
              std::vector<std::string>{"sound: [t] setOutputDevice(No Output) -> @TODO, cleanup / recreate\n"});
    EXPECT_EQ(sound::getBGMContext(), first);
}

TEST_F(soundTest, UnknownTaskTypesAreReturnedWithoutEffect)
{
    startSound();
    drainWorker();
    for (int i = 0; i < 1000; ++i) {
        sound::task* unknown = sound::newTask();
        unknown->type = 7;
        unknown->target.stream = nullptr;
        unknown->argument = 0;
        sound::pushTask(sound::getBGMContext(), unknown);
    }
    drainWorker();
    stopSound();
    // A task kept out of the pool would be reported as the pool is destroyed.
    for (const std::string& line : captured.texts(tavrix::util::LOG_ERROR))
        ADD_FAILURE() << line;
}

TEST_F(soundTest, CallsRunOnTheWorkerWhileItRuns)
{
    std::string ranOn;
    onWorker([&] { ranOn = threadName(); });
    // Nothing runs a worker yet: the call runs at once, where it was made.
    EXPECT_EQ(ranOn, threadName());

    startSound();
    std::vector<int> order;
    std::vector<std::thread> callers;
    for (int i = 0; i < 4; ++i)
        callers.emplace_back([&, i] {
            onWorker([&, i] {
                ranOn = threadName();
                order.push_back(i);
            });
        });
    for (std::thread& caller : callers)
        caller.join();
    EXPECT_EQ(ranOn, "Sound Worker");
    EXPECT_EQ(order.size(), 4u);
    // A call made right after the start runs behind the device switch queued by it.
    EXPECT_NE(sound::getBGMContext(), nullptr);
    stopSound();

    onWorker([&] { ranOn = threadName(); });
    EXPECT_EQ(ranOn, threadName());
}

TEST_F(soundTest, DevicesAreListedWithoutTheAllDevicesExtension)
{
    withoutAllDevices = true;
    startSound();
    drainWorker();
    withoutAllDevices = false;
    EXPECT_TRUE(captured.contains("sound: found 1 output devices\n")) << ::testing::PrintToString(captured.texts());
    EXPECT_FALSE(captured.contains("NO Enum Support/ failed.\n"));
    EXPECT_NE(sound::getBGMContext(), nullptr);
}

TEST_F(soundTest, RequestsAfterTheWorkerStoppedOnlyWarn)
{
    startSound();
    stopSound();
    captured.clear();
    EXPECT_EQ(sound::newTask(), nullptr);
    // The device list went with the worker: a switch finds no device to ask for.
    sound::setOutputDevice("No Output");
    EXPECT_EQ(captured.texts(), std::vector<std::string>{"sound::newTask() -> the sound worker is not running, request dropped\n"});
}

// For a shutdown that cannot finish: the worker ends and nothing is released, so the device list stays and
// a request made afterwards is only refused; final then releases everything.
TEST_F(soundTest, StopEndsTheWorkerAndReleasesNothing)
{
    startSound();
    EXPECT_TRUE(sound::stop());
    EXPECT_TRUE(captured.contains("sound::worker - terminating\n"));
    captured.clear();
    ASSERT_NE(sound::getDeviceName(0), nullptr);
    EXPECT_STREQ(sound::getDeviceName(0), "No Output");
    sound::setOutputDevice("No Output");
    EXPECT_EQ(captured.texts(), std::vector<std::string>{"sound::newTask() -> the sound worker is not running, request dropped\n"});
    stopSound();
    EXPECT_EQ(sound::getDeviceName(0), nullptr);
}

// The worker held up past the 6 s join at shutdown, until the shutdown is over, is left running: what it may
// still read stays.
TEST_F(soundTest, WorkerLeftBehindKeepsTheDeviceNames)
{
    startSound();
    drainWorker();
    std::atomic<bool> inside{false};
    std::atomic<bool> released{false};
    std::string nameSeen;
    std::thread caller([&] {
        onWorker([&] {
            inside = true;
            while (!released)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const char* name = sound::getDeviceName(0);
            nameSeen = name ? name : "";
        });
    });
    while (!inside)
        std::this_thread::yield();
    stopSound();
    released = true;
    caller.join();
    EXPECT_EQ(nameSeen, "No Output");
    ASSERT_TRUE(eventually([&] { return captured.contains("sound::worker - terminating\n"); }));
    // Once it has ended, a second final releases what the first one left to it.
    sound::final();
}

} // namespace
