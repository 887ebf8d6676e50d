// Text from another machine reaches the running host program's questions plain and
// bounded: a helper pairs through the real introduction service with a 60 KB name full
// of line breaks and a right-to-left override, and the host's pairing question (as its
// scripted prompts recorded it) shows that name as one short clean line, while the
// helper is stored under the name it sent.
#include "ProgramUnderTest.h"
#include "ServiceProcess.h"

#include "identity/Keys.h"
#include "protocol/SignalMessage.h"
#include "signalling/WebSocketSignalChannel.h"
#include "platform/linux/QtTimers.h"

#include <QList>
#include <QString>
#include <QTest>
#include <QUrl>

#include <cstring>

#include <gtest/gtest.h>

namespace wl::test {
namespace {

using json = nlohmann::json;

constexpr const char* kQuestionEnd = " wants to be able to help with this Mac";

TEST(ProgramForeignText, APairingHelpersHugeNameIsAskedAboutCutAndCleaned)
{
    ServiceProcess service;
    ASSERT_TRUE(service.start());
    ProgramUnderTest host("host", service.httpUrl());
    ASSERT_TRUE(host.start()) << host.log();

    // 60 KB: lines of A after an override and the first name.
    std::string name = "\u202EMallory";
    while (name.size() < 60 * 1024)
        name += "\nAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA";

    host.command({{"cmd", "answerAlert"}, {"button", 0}}); // "Numbers match: Allow"
    const std::string code = host.command({{"cmd", "startPairing"}}).value("code", "");
    ASSERT_EQ(code.size(), 8u);

    // The helper's side of the rendezvous, as a helper sends it, with that name.
    const SigningKey key = SigningKey::generate();
    SignalMessage request = SignalMessage::make(SignalMessage::Kind::pairRequest);
    request.name = name;
    request.publicKey = key.publicKeyBase64();
    ASSERT_LT(request.encode().size(), static_cast<std::size_t>(WebSocketSignalChannel::kMaxMessageBytes));
    auto channel = WebSocketSignalChannel::make(QUrl(QString::fromStdString(service.wsUrl() + "/v1/pair/join/" + code)),
                                                qtTimerFactory());
    bool gotInfo = false, accepted = false, closed = false;
    channel->onMessage = [&](const SignalMessage& message) {
        gotInfo = gotInfo || message.kind == SignalMessage::Kind::pairInfo;
        accepted = accepted || message.kind == SignalMessage::Kind::accepted;
    };
    channel->onClose = [&] { closed = true; };
    channel->send(request);
    channel->open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return accepted || closed; }, 20000)) << host.log();
    ASSERT_TRUE(gotInfo);
    ASSERT_TRUE(accepted) << host.log();
    channel->close();

    // The question: the name cut to 64 characters, the last an ellipsis, on one line,
    // without the override; the first name alone in its text.
    std::string title, text;
    const json asked = host.command({{"cmd", "questions"}});
    for (const auto& question : asked["questions"]) {
        const std::string t = question.value("title", "");
        if (t.size() >= std::strlen(kQuestionEnd) && t.ends_with(kQuestionEnd)) {
            title = t;
            text = question.value("text", "");
        }
    }
    ASSERT_FALSE(title.empty()) << asked.dump().substr(0, 2000);
    const std::string shown = title.substr(0, title.size() - std::strlen(kQuestionEnd));
    EXPECT_EQ(QString::fromStdString(shown).toUcs4().size(), 64) << shown;
    EXPECT_EQ(shown.rfind("Mallory AAAAAAAAAA", 0), 0u) << shown;
    EXPECT_TRUE(shown.ends_with("A\u2026")) << shown;
    for (const std::string& said : {title, text}) {
        EXPECT_EQ(said.find("\u202E"), std::string::npos);
        EXPECT_LT(said.size(), 1000u);
    }
    EXPECT_EQ(title.find('\n'), std::string::npos);
    EXPECT_NE(text.find("Check that Mallory sees this same number"), std::string::npos) << text;
    EXPECT_NE(text.find("you know Mallory. Mallory will still need your OK"), std::string::npos) << text;

    // Stored as it was received.
    ASSERT_TRUE(host.waitFor([&](const json& s) { return s["host"]["helpers"].size() == 1; }));
    EXPECT_EQ(host.state()["host"]["helpers"][0].value("name", ""), name);
}

} // namespace
} // namespace wl::test
