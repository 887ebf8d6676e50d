#include "platform/Defaults.h"
#include "platform/InfoDictionary.h"
#include "platform/Log.h"
#include "platform/linux/ProgramInfoDictionary.h"
#include "platform/linux/QtLog.h"

#include <QString>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <mutex>

using namespace wl;

TEST(ProgramInfoDictionary, DefaultsThenSettingsThenEnvironment)
{
    auto defaults = std::make_shared<MemoryDefaults>();
    Defaults::setStandard(defaults);
    unsetenv("WLIntroductionURL");
    unsetenv("SUFeedURL");
    ProgramInfoDictionary info;

    EXPECT_EQ(info.value("WLIntroductionURL"), "http://127.0.0.1:8787/");
    EXPECT_EQ(info.value("SUFeedURL"), "");
    EXPECT_EQ(info.value("SUPublicEDKey"), "");
    EXPECT_EQ(info.value("WLNoSuchKey"), std::nullopt);

    defaults->setString("WLIntroductionURL", "https://intro.example/");
    defaults->setString("SUFeedURL", "https://updates.example/feed.xml");
    EXPECT_EQ(info.value("WLIntroductionURL"), "https://intro.example/");
    EXPECT_EQ(info.value("SUFeedURL"), "https://updates.example/feed.xml");

    setenv("WLIntroductionURL", "http://127.0.0.1:9999/", 1);
    EXPECT_EQ(info.value("WLIntroductionURL"), "http://127.0.0.1:9999/");
    unsetenv("WLIntroductionURL");
    Defaults::setStandard(nullptr);
}

TEST(InfoDictionary, AnInstalledMapAnswersForTheProcess)
{
    InfoDictionary::setStandard(std::make_shared<MapInfoDictionary>(
        std::map<std::string, std::string>{{"WLIntroductionURL", "http://127.0.0.1:1/"}}));
    EXPECT_EQ(InfoDictionary::standard().string("WLIntroductionURL"), "http://127.0.0.1:1/");
    EXPECT_EQ(InfoDictionary::standard().string("SUFeedURL"), "");
    // Until start-up installs the program's own dictionary, no key has a value.
    InfoDictionary::setStandard(nullptr);
    EXPECT_EQ(InfoDictionary::standard().value("WLIntroductionURL"), std::nullopt);
}

namespace {
std::mutex capturedLock;
std::vector<std::pair<QtMsgType, std::string>> captured;
void capture(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    std::lock_guard guard(capturedLock);
    captured.emplace_back(type, text.toStdString());
}
} // namespace

TEST(QtLog, LinesGoThroughQtInfo)
{
    QtMessageHandler previous = qInstallMessageHandler(capture);
    installQtLogSink();
    Log::line("Wickerlane: hello from the log test 100%");
    Log::setSink(nullptr);
    qInstallMessageHandler(previous);
    std::lock_guard guard(capturedLock);
    ASSERT_EQ(captured.size(), 1u);
    EXPECT_EQ(captured[0].first, QtInfoMsg);
    EXPECT_EQ(captured[0].second, "Wickerlane: hello from the log test 100%");
}
