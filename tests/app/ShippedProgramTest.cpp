// The shipped program as its own start-up makes it (the test build replaces timers,
// prompts, the owner check and more after that), on a private display with a tray and
// against a service of the test's own, on desktops with and without a D-Bus session and
// PulseAudio: it lives with its icon in the tray and online at the service, shows its
// window when launched again, and ends with status 0 on SIGTERM, none of its parts made
// without what it needs.
#include "ProgramDesktop.h"
#include "ServiceProcess.h"
#include "TestEnvironment.h"
#include "WaitUntil.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <signal.h>
#include <string>

namespace wl::test {
namespace {

struct Session {
    bool dbus = true;
    bool pulseAudio = true;
};

bool onlineAt(const ServiceProcess& service, const std::string& id)
{
    std::string body;
    if (ServiceProcess::httpRequest(service.port(), "GET", "/v1/status/" + id, {}, &body) != 200)
        return false;
    auto json = nlohmann::json::parse(body, nullptr, false);
    return json.is_object() && json.value("online", false);
}

void livesOnADesktop(Session session)
{
    if (session.dbus)
        WL_REQUIRE_TEST_ENV(std::getenv("DBUS_SESSION_BUS_ADDRESS"), "the D-Bus session");
    if (session.pulseAudio)
        WL_REQUIRE_TEST_ENV(std::getenv("PULSE_SERVER"), "PulseAudio");
    ServiceProcess service;
    ASSERT_TRUE(service.start()) << service.log();
    Desktop desktop;
    ASSERT_TRUE(desktop.xvfb.ok());
    ASSERT_TRUE(desktop.startTray()) << "trayer is not installed (scripts/install-deps)";
    // A user who accepts help requests; WebRTC, should a session start, stays on this machine.
    desktop.settings("WLAcceptHelpRequests=true\nWLLoopbackOnly=true\nWLSTUNServers=@Invalid()\n");

    QProcessEnvironment environment = desktop.environment();
    environment.insert("WLIntroductionURL", QString::fromStdString(service.httpUrl() + "/"));
    const auto home = desktop.home.path();
    if (!session.dbus) {
        // No session bus: an address where none listens (with none given, libdbus would
        // start a bus of its own for the display).
        environment.insert("DBUS_SESSION_BUS_ADDRESS",
                           QString::fromStdString("unix:path=" + (home / "no-session-bus").string()));
    }
    if (!session.pulseAudio) {
        // No sound server, and none started for the program.
        std::ofstream(home / "pulse-client.conf") << "autospawn = no\n";
        environment.insert("PULSE_SERVER", QString::fromStdString("unix:" + (home / "no-sound-server").string()));
        environment.insert("PULSE_CLIENTCONFIG", QString::fromStdString((home / "pulse-client.conf").string()));
    }
    auto launch = [&](QProcess& process) {
        return launchProgram(process, QStringLiteral(WL_PROGRAM_BINARY), environment);
    };

    QProcess program;
    ASSERT_TRUE(launch(program));
    std::string log, id;
    ASSERT_TRUE(waitUntil(
        [&] {
            log += program.readAll().toStdString();
            auto match = QRegularExpression("device id is ([0-9a-f]{64})").match(QString::fromStdString(log));
            if (match.hasMatch())
                id = match.captured(1).toStdString();
            return program.state() != QProcess::Running ||
                (!id.empty() && onlineAt(service, id) && trayIcon(desktop).has_value());
        },
        30000));
    ASSERT_EQ(program.state(), QProcess::Running) << "it ended:\n" << log + program.readAll().toStdString();
    ASSERT_TRUE(!id.empty() && onlineAt(service, id) && trayIcon(desktop).has_value())
        << "online at the service: " << (!id.empty() && onlineAt(service, id))
        << ", its icon in the tray: " << trayIcon(desktop).has_value() << "\n"
        << log;
    EXPECT_FALSE(waitUntil([&] { return program.state() != QProcess::Running; }, 5000))
        << "it ended within 5 s:\n"
        << log + program.readAll().toStdString();
    EXPECT_TRUE(trayIcon(desktop).has_value()) << "its icon left the tray";

    // A second launch hands over and ends; the first shows its main window.
    QProcess second;
    ASSERT_TRUE(launch(second));
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    const std::string secondLog = second.readAll().toStdString();
    EXPECT_TRUE(waitUntil([&] { return visibleMainWindows(desktop).size() == 1; }, 15000));

    // SIGTERM ends it with status 0.
    ASSERT_EQ(::kill(static_cast<pid_t>(program.processId()), SIGTERM), 0);
    ASSERT_TRUE(program.waitForFinished(15000)) << "still running after SIGTERM";
    log += program.readAll().toStdString();
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0) << log;
    EXPECT_NE(log.find("Wickerlane: quitting"), std::string::npos) << log;
    EXPECT_EQ(log.find("was made without"), std::string::npos) << log;
    EXPECT_EQ(secondLog.find("was made without"), std::string::npos) << secondLog;
}

TEST(ShippedProgram, WithADBusSessionAndPulseAudio)
{
    livesOnADesktop({});
}

TEST(ShippedProgram, WithoutADBusSession)
{
    livesOnADesktop({.dbus = false});
}

TEST(ShippedProgram, WithoutPulseAudio)
{
    livesOnADesktop({.pulseAudio = false});
}

TEST(ShippedProgram, WithNeitherADBusSessionNorPulseAudio)
{
    livesOnADesktop({.dbus = false, .pulseAudio = false});
}

} // namespace
} // namespace wl::test
