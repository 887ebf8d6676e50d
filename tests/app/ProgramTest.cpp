// The program itself, started the way a user starts it (scripts/run), against the real
// introduction service: it goes online when accepting help requests, and SIGTERM ends
// it within a second without a message to anyone.
#include "ServiceProcess.h"
#include "TestDirs.h"
#include "WaitUntil.h"

#include "identity/DeviceIdentity.h"
#include "identity/SignedQuery.h"
#include "platform/InfoDictionary.h"
#include "protocol/SignalMessage.h"
#include "signalling/IntroductionService.h"
#include "signalling/WebSocketSignalChannel.h"
#include "platform/linux/QtTimers.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <signal.h>

namespace wl::test {
namespace {

bool onlineAtService(ServiceProcess& service, const std::string& id)
{
    std::string body;
    if (ServiceProcess::httpRequest(service.port(), "GET", "/v1/status/" + id, {}, &body) != 200)
        return false;
    auto json = nlohmann::json::parse(body, nullptr, false);
    return json.is_object() && json.value("online", false);
}

TEST(Program, GoesOnlineAndQuitsOnSigtermSendingNothing)
{
    ServiceProcess service;
    ASSERT_TRUE(service.start()) << service.log();
    TempDir home;
    const auto config = home.path() / ".config";
    std::filesystem::create_directories(config / "Wickerlane");
    {
        // A user who switched accepting help requests on at an earlier run.
        std::ofstream settings(config / "Wickerlane" / "Wickerlane.ini");
        settings << "[General]\nWLAcceptHelpRequests=true\n";
    }

    const std::filesystem::path program = WL_PROGRAM_BINARY;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", QString::fromStdString(home.str()));
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString(config.string()));
    environment.insert("XDG_DATA_HOME", QString::fromStdString((home.path() / ".local/share").string()));
    environment.insert("XDG_STATE_HOME", QString::fromStdString((home.path() / ".local/state").string()));
    environment.insert("WLIntroductionURL", QString::fromStdString(service.httpUrl() + "/"));
    environment.insert("WL_BUILD_DIR",
                       QString::fromStdString(program.parent_path().parent_path().parent_path().string()));
    environment.insert("WL_RUN_SKIP_BUILD", "1");
    if (!environment.contains("DISPLAY"))
        environment.insert("QT_QPA_PLATFORM", "offscreen");

    QProcess run;
    run.setProcessEnvironment(environment);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QString::fromStdString(std::string(WL_SOURCE_DIR) + "/scripts/run"));
    ASSERT_TRUE(run.waitForStarted(5000));

    // It names its device id in the log, and the service sees it online.
    std::string output;
    std::string id;
    ASSERT_TRUE(waitUntil(
        [&] {
            output += run.readAll().toStdString();
            auto match = QRegularExpression("device id is ([0-9a-f]{64})").match(QString::fromStdString(output));
            if (match.hasMatch())
                id = match.captured(1).toStdString();
            return !id.empty() && onlineAtService(service, id);
        },
        20000))
        << output;

    // A helper reaches it and waits, bound to it at the service.
    const MapInfoDictionary info(
        std::map<std::string, std::string>{{InfoKey::introductionURL, service.httpUrl() + "/"}});
    auto helper =
        WebSocketSignalChannel::make(IntroductionService::webSocketURL(info, "v1/connect/" + id), qtTimerFactory());
    std::vector<SignalMessage> atHelper;
    bool helperClosed = false;
    helper->onMessage = [&](const SignalMessage& message) { atHelper.push_back(message); };
    helper->onClose = [&] { helperClosed = true; };
    helper->open();
    ASSERT_TRUE(waitUntil([&] { return !atHelper.empty(); })) << "the service greets a bound connector";
    EXPECT_EQ(atHelper[0].kind, SignalMessage::Kind::iceServers);

    // SIGTERM: gone within a second, with nothing sent.
    QElapsedTimer clock;
    clock.start();
    ASSERT_EQ(::kill(static_cast<pid_t>(run.processId()), SIGTERM), 0);
    ASSERT_TRUE(run.waitForFinished(1000)) << "still running after a second";
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(run.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.exitCode(), 0);
    ASSERT_TRUE(waitUntil([&] { return helperClosed; }));
    EXPECT_EQ(atHelper.size(), 1u) << "nothing but the service's greeting reached the helper";
    EXPECT_FALSE(onlineAtService(service, id));
    output += run.readAll().toStdString();
    EXPECT_NE(output.find("Wickerlane: quitting"), std::string::npos) << output;
}

} // namespace
} // namespace wl::test
