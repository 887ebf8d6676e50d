#pragma once
// Two running programs against the real introduction service: a host (1280x720) and a
// helper (1920x1080), each with its own home and Xvfb, and pairing them through the
// rendezvous as their people do.
#include "ProgramUnderTest.h"
#include "ServiceProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

namespace wl::test {

using json = nlohmann::json;

inline std::string phaseOf(const json& state)
{
    return state["viewer"].value("phase", "");
}

// Whether the host's session history gets a line containing the text (it is written
// just after the state changes).
inline bool historyGets(ProgramUnderTest& host, const std::string& text)
{
    for (int i = 0; i < 50; ++i) {
        const json history = host.command({{"cmd", "history"}});
        for (const auto& line : history["lines"])
            if (line.get<std::string>().find(text) != std::string::npos)
                return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

class TwoPrograms : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service.start());
        host = std::make_unique<ProgramUnderTest>("host", service.httpUrl());
        // The helper's screen is larger than the host's, so that its window can show the
        // host's picture at its own size.
        helper = std::make_unique<ProgramUnderTest>("helper", service.httpUrl(), 1920, 1080);
        ASSERT_TRUE(host->start()) << host->log();
        ASSERT_TRUE(helper->start()) << helper->log();
    }

    void TearDown() override
    {
        if (HasFailure()) {
            std::cerr << "---- host log ----\n"
                      << (host ? host->log() : "") << "\n---- helper log ----\n"
                      << (helper ? helper->log() : "") << std::endl;
        }
        helper.reset();
        host.reset();
    }

    // Pairs the helper with the host through the rendezvous; both sides see the same
    // number, and each lists the other.
    void pair()
    {
        host->command({{"cmd", "answerAlert"}, {"button", 0}}); // "Numbers match: Allow"
        const std::string code = host->command({{"cmd", "startPairing"}}).value("code", "");
        ASSERT_EQ(code.size(), 8u);
        ASSERT_TRUE(helper->command({{"cmd", "pair"}, {"code", code.substr(0, 4) + "-" + code.substr(4)}, {"name", ""}})
                        .value("started", false));
        ASSERT_TRUE(helper->waitFor([](const json& s) { return s["viewer"].value("pairing", "") == "paired"; }))
            << helper->state().dump();
        const json helperState = helper->state();
        const std::string number = helperState["viewer"].value("pairingNumber", "");
        ASSERT_EQ(number.size(), 6u);
        // The host asked its user to compare the same six digits.
        bool hostShowedNumber = false;
        const json questions = host->command({{"cmd", "questions"}});
        for (const auto& question : questions["questions"])
            if (question.value("text", "").find(number) != std::string::npos)
                hostShowedNumber = true;
        EXPECT_TRUE(hostShowedNumber) << number << " " << host->command({{"cmd", "questions"}}).dump();
        // The host is in the helper's list, under the name its person goes by.
        ASSERT_EQ(helperState["viewer"]["devices"].size(), 1u);
        EXPECT_EQ(helperState["viewer"]["devices"][0].value("id", ""), host->deviceId());
        EXPECT_FALSE(helperState["viewer"]["devices"][0].value("name", "").empty());
        EXPECT_EQ(helperState["viewer"]["devices"][0].value("name", ""),
                  helperState["viewer"].value("pairingText", "x"));
        ASSERT_TRUE(host->waitFor([&](const json& s) {
            return s["host"]["helpers"].size() == 1 && s["host"]["helpers"][0].value("id", "") == helper->deviceId();
        }));
        // The host accepts help requests, so that its relay link is up and it is online.
        host->command({{"cmd", "accept"}, {"on", true}});
        ASSERT_TRUE(host->waitFor([](const json& s) { return s["host"].value("online", false); }));
        ASSERT_TRUE(helper->waitFor(
            [&](const json& s) {
                for (const auto& id : s["viewer"]["online"])
                    if (id == host->deviceId())
                        return true;
                return false;
            },
            15000));
    }

    bool connected(const json& s, long long frames = 1)
    {
        return phaseOf(s) == "connected" && s["viewer"].value("framesShown", 0LL) >= frames &&
            s["viewer"].value("guideOpen", false);
    }

    ServiceProcess service;
    std::unique_ptr<ProgramUnderTest> host;
    std::unique_ptr<ProgramUnderTest> helper;
};

} // namespace wl::test
