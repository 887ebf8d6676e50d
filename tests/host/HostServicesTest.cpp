// The host's system services: keep-awake over a recorded power manager and over the
// D-Bus backend against stand-in logind, UPower and ScreenSaver objects on the test's own
// bus; the session history file; the login item; the administrator prompt.
#include "TestEnvironment.h"
#include "HostFakes.h"
#include "TestDirs.h"
#include "WaitUntil.h"

#include "host/KeepAwake.h"
#include "host/OpenAtLogin.h"
#include "host/SessionHistory.h"
#include "platform/Defaults.h"
#include "platform/Log.h"
#include "platform/linux/HostServices.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

namespace wl::test {

// ---- stand-ins on a private bus ----

class StandInLogind : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    struct Call {
        QString what, who, why, mode;
    };
    std::vector<Call> calls;
    int heldEnd = -1; // our end of the last inhibitor's pipe

public Q_SLOTS:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why, const QString& mode)
    {
        calls.push_back({what, who, why, mode});
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return {};
        heldEnd = fds[0];
        QDBusUnixFileDescriptor descriptor(fds[1]);
        ::close(fds[1]);
        return descriptor;
    }
};

class StandInUPower : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.UPower")
    Q_PROPERTY(bool OnBattery READ onBattery)
public:
    bool onBattery() const { return battery; }
    bool battery = false;
};

class StandInScreenSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    std::vector<uint> inhibited, released;

public Q_SLOTS:
    uint Inhibit(const QString&, const QString&)
    {
        inhibited.push_back(static_cast<uint>(inhibited.size() + 40));
        return inhibited.back();
    }
    void UnInhibit(uint cookie) { released.push_back(cookie); }
};

// A private D-Bus daemon, and the stand-ins served from their own thread on their own
// connection (the code under test calls them synchronously from the main thread).
class PrivateBus {
public:
    PrivateBus()
    {
        daemon_.setProgram("dbus-daemon");
        daemon_.setArguments({"--session", "--nofork", "--print-address=1"});
        daemon_.start();
        if (!daemon_.waitForReadyRead(5000))
            return;
        address = QString::fromUtf8(daemon_.readLine()).trimmed();
        static int count = 0;
        ++count;
        standIns_ = QString("standins%1").arg(count);
        client_ = QString("client%1").arg(count);
        thread_.start();
    }
    ~PrivateBus()
    {
        if (connected_)
            run([this] {
                QDBusConnection::disconnectFromBus(standIns_);
                logind.reset();
                upower.reset();
                screenSaver.reset();
            });
        thread_.quit();
        thread_.wait();
        QDBusConnection::disconnectFromBus(client_);
        daemon_.kill();
        daemon_.waitForFinished();
    }

    bool ok() const { return !address.isEmpty(); }

    // Serves the stand-ins (logind and UPower on the "system" side, ScreenSaver on the
    // "session" side; one bus stands for both).
    void serve(bool withLogind, bool withScreenSaver)
    {
        run([this, withLogind, withScreenSaver] {
            auto bus = QDBusConnection::connectToBus(address, standIns_);
            connected_ = bus.isConnected();
            upower = std::make_unique<StandInUPower>();
            bus.registerObject("/org/freedesktop/UPower", upower.get(), QDBusConnection::ExportAllProperties);
            bus.registerService("org.freedesktop.UPower");
            if (withLogind) {
                logind = std::make_unique<StandInLogind>();
                bus.registerObject("/org/freedesktop/login1", logind.get(), QDBusConnection::ExportAllSlots);
                bus.registerService("org.freedesktop.login1");
            }
            if (withScreenSaver) {
                screenSaver = std::make_unique<StandInScreenSaver>();
                bus.registerObject("/org/freedesktop/ScreenSaver", screenSaver.get(), QDBusConnection::ExportAllSlots);
                bus.registerService("org.freedesktop.ScreenSaver");
            }
        });
    }

    // Switches the power source and announces it as UPower does.
    void setOnBattery(bool battery)
    {
        run([this, battery] {
            upower->battery = battery;
            QDBusMessage signal = QDBusMessage::createSignal("/org/freedesktop/UPower",
                                                             "org.freedesktop.DBus.Properties", "PropertiesChanged");
            signal << QString("org.freedesktop.UPower") << QVariantMap{{"OnBattery", battery}} << QStringList{};
            QDBusConnection(QDBusConnection::connectToBus(address, standIns_)).send(signal);
        });
    }

    QDBusConnection client() { return QDBusConnection::connectToBus(address, client_); }

    template <typename Fn>
    void run(Fn fn)
    {
        QObject context;
        context.moveToThread(&thread_);
        QMetaObject::invokeMethod(&context, fn, Qt::BlockingQueuedConnection);
    }

    QString address;
    std::unique_ptr<StandInLogind> logind;
    std::unique_ptr<StandInUPower> upower;
    std::unique_ptr<StandInScreenSaver> screenSaver;

private:
    QProcess daemon_;
    QThread thread_;
    QString standIns_;
    QString client_;
    bool connected_ = false;
};

bool pipeClosed(int readEnd)
{
    pollfd entry{readEnd, POLLIN, 0};
    if (::poll(&entry, 1, 0) <= 0)
        return false;
    char byte;
    return ::read(readEnd, &byte, 1) == 0;
}

namespace {

// ---- keep-awake ----

TEST(HostKeepAwake, HoldsOffIdleSleepOnlyWhileWantedAndOnACPower)
{
    auto recording = std::make_shared<RecordingPowerManagement>();
    RecordingPowerManagement& power = *recording;
    KeepAwake awake(recording);
    EXPECT_FALSE(awake.holdsAssertion());

    awake.start(true);
    EXPECT_TRUE(awake.holdsAssertion());
    ASSERT_EQ(power.held.size(), 1u);
    EXPECT_EQ(power.held.begin()->second, "Wickerlane is ready for help requests");
    EXPECT_TRUE(power.watching());
    awake.start(true); // twice: one watch, one assertion
    EXPECT_EQ(power.watchesStarted, 1);
    EXPECT_EQ(power.taken, 1);

    // Unplugged: let go; plugged in again: taken again.
    power.plugIn(false);
    EXPECT_FALSE(awake.holdsAssertion());
    EXPECT_EQ(power.released, 1);
    power.plugIn(true);
    EXPECT_TRUE(awake.holdsAssertion());
    EXPECT_EQ(power.taken, 2);

    // Not wanted: released and the watch removed.
    awake.start(false);
    EXPECT_FALSE(awake.holdsAssertion());
    EXPECT_FALSE(power.watching());
    EXPECT_TRUE(power.held.empty());

    // Wanted on battery: nothing taken until plugged in.
    power.onBattery = true;
    awake.start(true);
    EXPECT_FALSE(awake.holdsAssertion());
    power.plugIn(true);
    EXPECT_TRUE(awake.holdsAssertion());

    // A refusal is logged and tried again at the next change.
    awake.start(false);
    power.refuse = true;
    CapturedLog log;
    awake.start(true);
    EXPECT_FALSE(awake.holdsAssertion());
    EXPECT_TRUE(log.contains("Wickerlane: could not keep the Mac awake (refused by the test)"));
    power.refuse = false;
    power.plugIn(true);
    EXPECT_TRUE(awake.holdsAssertion());
}

TEST(HostKeepAwake, TheDBusBackendUsesLogindAndUPowerElseTheScreenSaver)
{
    PrivateBus bus;
    WL_REQUIRE_TEST_ENV(bus.ok(), "dbus-daemon");
    bus.serve(true, true);
    QDBusConnection client = bus.client();
    ASSERT_TRUE(client.isConnected());
    {
        DBusPowerManagement power(client, client);
        EXPECT_TRUE(power.isOnACPower());
        std::string error;
        std::uint32_t handle = power.preventIdleSleep("Wickerlane is ready for help requests", error);
        ASSERT_NE(handle, 0u) << error;
        ASSERT_EQ(bus.logind->calls.size(), 1u);
        EXPECT_EQ(bus.logind->calls[0].what, "idle");
        EXPECT_EQ(bus.logind->calls[0].who, "Wickerlane");
        EXPECT_EQ(bus.logind->calls[0].why, "Wickerlane is ready for help requests");
        EXPECT_EQ(bus.logind->calls[0].mode, "block");
        EXPECT_TRUE(bus.screenSaver->inhibited.empty());
        // The inhibitor holds while its descriptor is open.
        EXPECT_FALSE(pipeClosed(bus.logind->heldEnd));
        power.allowIdleSleep(handle);
        // (Every other copy of the descriptor, in the bus's messages, goes soon after.)
        EXPECT_TRUE(waitUntil([&] { return pipeClosed(bus.logind->heldEnd); }));

        // The power source, and its changes.
        int changes = 0;
        power.watchPowerSource([&] { ++changes; });
        bus.setOnBattery(true);
        ASSERT_TRUE(waitUntil([&] { return changes == 1; }));
        EXPECT_FALSE(power.isOnACPower());
        power.stopWatchingPowerSource();
        bus.setOnBattery(false);
        // Read back over the bus after the change: its signal, had it still been watched,
        // came before the answer.
        EXPECT_TRUE(test::waitUntil([&] { return power.isOnACPower(); }));
        ASSERT_TRUE(test::waitForNextTurn());
        EXPECT_EQ(changes, 1);
        EXPECT_TRUE(power.isOnACPower());
    }

    // Without logind, the session's screen saver holds it.
    PrivateBus second;
    second.serve(false, true);
    QDBusConnection other = second.client();
    DBusPowerManagement power(other, other);
    std::string error;
    std::uint32_t handle = power.preventIdleSleep("Wickerlane is ready for help requests", error);
    ASSERT_NE(handle, 0u) << error;
    ASSERT_EQ(second.screenSaver->inhibited.size(), 1u);
    power.allowIdleSleep(handle);
    EXPECT_EQ(second.screenSaver->released, second.screenSaver->inhibited);
}

// ---- session history ----

TEST(HostSessionHistory, LinesAreAppendedInUTCAndNothingIsRewritten)
{
    TempDir state;
    setenv("XDG_STATE_HOME", state.str().c_str(), 1);
    const auto path = sessionHistoryPath();
    EXPECT_EQ(path, state.path() / "Wickerlane Host" / "Session History.log");
    EXPECT_FALSE(std::filesystem::exists(path));

    appendSessionHistory("Paired with helper Ada Lovelace");
    ASSERT_TRUE(std::filesystem::exists(path));
    // Another copy of the program writes meanwhile: its line stays.
    {
        std::ofstream other(path, std::ios::app);
        other << "2001-01-01T00:00:00Z  written elsewhere\n";
    }
    appendSessionHistory("Removed helper Ada Lovelace");

    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u);
    const std::regex stamp(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}Z  .*)");
    EXPECT_TRUE(std::regex_match(lines[0], stamp)) << lines[0];
    EXPECT_EQ(lines[0].substr(22), "Paired with helper Ada Lovelace");
    EXPECT_EQ(lines[1], "2001-01-01T00:00:00Z  written elsewhere");
    EXPECT_EQ(lines[2].substr(22), "Removed helper Ada Lovelace");

    // Showing the history of a machine that has none starts it first.
    std::filesystem::remove(path);
    auto workspace = std::make_shared<RecordingWorkspace>();
    openSessionHistory(*workspace);
    ASSERT_EQ(workspace->opened, std::vector<std::string>{path.string()});
    std::ifstream started(path);
    std::string first;
    std::getline(started, first);
    EXPECT_EQ(first.substr(22), "Session history started");

    // A folder that can't be made: logged, nothing else.
    std::ofstream(state.path() / "blocker") << "x";
    setenv("XDG_STATE_HOME", (state.path() / "blocker").c_str(), 1);
    CapturedLog log;
    appendSessionHistory("lost");
    EXPECT_TRUE(log.contains("Wickerlane: could not write session history: "));
    unsetenv("XDG_STATE_HOME");
}

// ---- login item ----

TEST(HostLoginItem, AnAutostartEntryForTheRunningCopy)
{
    TempDir config;
    auto entry = config.path() / "autostart" / "org.wickerlane.Wickerlane.desktop";
    auto item = std::make_shared<XdgLoginItem>(entry);
    auto settings = std::make_shared<MemoryDefaults>();

    EXPECT_FALSE(opensAtLogin(*item));
    setOpensAtLogin(*item, *settings, true);
    EXPECT_TRUE(opensAtLogin(*item));
    const std::string program = item->programPath();
    EXPECT_FALSE(program.empty());
    EXPECT_EQ(settings->string(kLoginItemPathKey), program);
    std::ifstream in(entry);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("[Desktop Entry]"), std::string::npos);
    EXPECT_NE(text.find("Exec=\"" + program + "\""), std::string::npos) << text;

    // The same copy starting again changes nothing; a moved copy registers again.
    {
        CapturedLog log;
        refreshLoginItem(*item, *settings);
        EXPECT_FALSE(log.contains("Open at Login now opens"));
        settings->setString(kLoginItemPathKey, "/opt/old/wickerlane");
        refreshLoginItem(*item, *settings);
        EXPECT_TRUE(log.contains("Wickerlane: Open at Login now opens " + program));
        EXPECT_EQ(settings->string(kLoginItemPathKey), program);
    }

    // Hidden=true means off.
    {
        std::ofstream out(entry, std::ios::app);
        out << "Hidden=true\n";
    }
    EXPECT_FALSE(opensAtLogin(*item));

    setOpensAtLogin(*item, *settings, false);
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_FALSE(settings->contains(kLoginItemPathKey));

    // A failure is logged and changes nothing.
    std::filesystem::create_directories(config.path() / "blocked");
    std::ofstream(config.path() / "blocked" / "autostart") << "a file";
    XdgLoginItem blocked(config.path() / "blocked" / "autostart" / "x.desktop");
    CapturedLog log;
    setOpensAtLogin(blocked, *settings, true);
    EXPECT_TRUE(log.contains("Wickerlane: could not change Open at Login: "));
    EXPECT_FALSE(settings->contains(kLoginItemPathKey));
}

// ---- administrator prompt ----

// pkcheck stands in as scripts that exit as pkcheck does: 0 allowed, 1 not allowed and 3
// dismissed are answers (quiet); 2 (no authentication agent), 126 (no polkit to reach, or
// bad options), 127 (polkit could not check) and no pkcheck at all are not, and each says
// what to do and leaves one log line with pkcheck's words.
TEST(HostAdminPrompt, AsksPolkitForAnAdministratorAction)
{
    TempDir folder;
    auto script = [&](const std::string& name, int exitCode, const std::string& said = {}) {
        auto path = folder.path() / name;
        std::ofstream out(path);
        out << "#!/bin/sh\necho \"$@\" > " << (folder.path() / (name + ".args")).string() << "\n";
        if (!said.empty())
            out << "echo '" << said << "' >&2\n";
        out << "exit " << exitCode << "\n";
        out.close();
        ::chmod(path.c_str(), 0700);
        return path.string();
    };
    PolkitAdminPrompt allowed(script("yes", 0));
    EXPECT_EQ(allowed.askForAdminRights(), AdminAnswer::granted());
    std::ifstream args(folder.path() / "yes.args");
    std::string line;
    std::getline(args, line);
    EXPECT_EQ(line,
              "--action-id org.freedesktop.policykit.exec --process " + std::to_string(::getpid()) +
                  " --allow-user-interaction");

    CapturedLog log;
    for (int code : {1, 3}) {
        PolkitAdminPrompt refused(script("no-" + std::to_string(code), code, "Not authorized."));
        EXPECT_EQ(refused.askForAdminRights(), AdminAnswer::refused()) << code;
    }
    EXPECT_TRUE(log.lines().empty()) << "a refusal is an answer, not a fault";

    struct Case {
        std::string program;
        std::string problem; // a part of what the person is told
        std::string logged;
    };
    const std::vector<Case> cases = {
        {script("no-agent", 2, "Authorization requires authentication but no agent is available."),
         "no polkit authentication agent is running. Start your desktop's authentication agent, or install one "
         "(such as polkit-kde-agent-1, lxpolkit or policykit-1-gnome)",
         "exited with 2 (no polkit authentication agent): Authorization requires authentication but no agent"},
        {script("no-polkit", 126,
                "Error getting authority: Error initializing authority: Could not connect: No such file or directory"),
         "polkit isn't answering", "exited with 126 (polkit could not check): Error getting authority: "},
        {script("check-failed", 127, "Error checking for authorization org.freedesktop.policykit.exec: GDBus.Error"),
         "polkit isn't answering", "exited with 127 (polkit could not check): Error checking for authorization"},
        {script("old-polkit", 126, "pkcheck: Unknown option --allow-user-interaction"), "doesn't take the options",
         "exited with 126 (options it does not take): pkcheck: Unknown option"},
        {(folder.path() / "nothing-here").string(), "pkcheck isn't installed", "is not available"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program);
        const auto before = log.lines().size();
        const AdminAnswer answer = PolkitAdminPrompt(c.program).askForAdminRights();
        EXPECT_EQ(answer.kind, AdminAnswer::Kind::cannotAsk);
        EXPECT_EQ(answer.problem.rfind("Wickerlane couldn't ask for an administrator's password because ", 0), 0u)
            << answer.problem;
        EXPECT_NE(answer.problem.find(c.problem), std::string::npos) << answer.problem;
        const auto lines = log.lines();
        ASSERT_EQ(lines.size(), before + 1);
        EXPECT_EQ(lines.back().rfind("Wickerlane: can't ask for administrator rights: ", 0), 0u) << lines.back();
        EXPECT_NE(lines.back().find(c.logged), std::string::npos) << lines.back();
    }
}

// ---- permissions ----

TEST(HostPermissions, TheScreenAndXTestOfTheTestServer)
{
    WL_REQUIRE_TEST_ENV(std::getenv("DISPLAY"), "the test X server");
    X11Permissions permissions;
    EXPECT_TRUE(permissions.canRecordScreen());
    EXPECT_TRUE(permissions.canControl());
}

} // namespace
} // namespace wl::test

#include "HostServicesTest.moc"
