#pragma once
// Shared helpers of the service tests: devices with real keys, signed targets, a running
// service per test.

#include "ServiceProcess.h"
#include "WsTestClient.h"

#include "identity/Keys.h"
#include "identity/SignedQuery.h"
#include "protocol/KeyRecord.h"
#include "protocol/MailEnvelope.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace wl::test {

inline std::int64_t unixNow()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

struct TestDevice {
    SigningKey key = SigningKey::generate();
    AgreementKey mail = AgreementKey::generate();
    std::string id = fingerprintOfRaw(key.publicKeyRaw());

    // "?pub=..&ts=..&sig=.." for purpose, signed over `forId` (default: own id) at time ts.
    std::string query(const std::string& purpose, std::int64_t ts = unixNow()) const
    {
        std::string out;
        for (const auto& [name, value] : signedQueryItems(purpose, key, ts))
            out += (out.empty() ? "?" : "&") + name + "=" + percentEncode(value);
        return out;
    }
    std::string hostTarget() const { return "/v1/host/" + id + query(kPurposeHost); }
    std::string mailboxTarget() const { return "/v1/mail/" + id + query(kPurposeMailbox); }
    std::string keysTarget() const { return "/v1/keys/" + id + query(kPurposeKeys); }
    std::string keyRecordJson() const { return KeyRecord::make(key, mail, 700000000.5).encode(); }
};

inline std::string signal(const std::string& kind, const std::string& extra = {})
{
    return "{\"kind\":\"" + kind + "\"" + (extra.empty() ? "" : "," + extra) + "}";
}

// The service tags every frame it hands a host with the channel of the connector it
// concerns, and the host tags its answers the same way.
inline std::uint64_t channelOf(const std::optional<std::string>& frame)
{
    auto json = nlohmann::json::parse(frame.value_or("{}"), nullptr, false);
    return json.is_object() && json.contains("channel") && json["channel"].is_number_unsigned()
        ? json["channel"].get<std::uint64_t>()
        : 0;
}

// The frame without its channel, as JSON (null when there is none).
inline nlohmann::json untagged(const std::optional<std::string>& frame)
{
    if (!frame)
        return nullptr;
    auto json = nlohmann::json::parse(*frame, nullptr, false);
    if (json.is_object())
        json.erase("channel");
    return json;
}

inline nlohmann::json frameJson(const std::string& frame)
{
    return nlohmann::json::parse(frame, nullptr, false);
}

inline std::string onChannel(const std::string& frame, std::uint64_t channel)
{
    auto json = nlohmann::json::parse(frame);
    json["channel"] = channel;
    return json.dump();
}

inline std::string kindOf(const std::optional<std::string>& frame)
{
    if (!frame)
        return "<none>";
    auto json = nlohmann::json::parse(*frame, nullptr, false);
    if (!json.is_object() || !json.contains("kind") || !json["kind"].is_string())
        return "<no kind>";
    return json["kind"].get<std::string>();
}

// A fresh service for each test, with optional extra arguments.
class ServiceTest : public ::testing::Test {
protected:
    void startService(std::vector<std::string> arguments = {})
    {
        service = std::make_unique<ServiceProcess>(std::move(arguments));
        ASSERT_TRUE(service->start()) << "the service did not start: " << service->log();
    }
    void SetUp() override { }
    void TearDown() override
    {
        if (service && HasFailure())
            std::cerr << "--- service log ---\n" << service->log() << "-------------------\n";
    }
    std::uint16_t port() const { return service->port(); }
    int http(const std::string& method, const std::string& target, const std::string& body = {},
             std::string* response = nullptr) const
    {
        return ServiceProcess::httpRequest(port(), method, target, body, response);
    }
    bool online(const std::string& id) const
    {
        std::string body;
        if (http("GET", "/v1/status/" + id, {}, &body) != 200)
            return false;
        return nlohmann::json::parse(body, nullptr, false).value("online", false);
    }
    // Polls presence until it equals `expected` (for ten seconds at most).
    bool waitOnline(const std::string& id, bool expected)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (online(id) != expected) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    // Waits (bounded) until the service's log holds text.
    bool waitForLog(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const
    {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (service->log().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
    bool publishKeys(const TestDevice& device) const
    {
        return http("PUT", device.keysTarget(), device.keyRecordJson()) == 200;
    }
    // A host link for device and a helper bound to it, both past their `iceServers`; the
    // connector's channel goes to *channel.
    void bind(const TestDevice& device, WsTestClient& host, WsTestClient& connector, std::uint64_t* channel = nullptr)
    {
        ASSERT_TRUE(host.open(port(), device.hostTarget()));
        ASSERT_TRUE(connector.open(port(), "/v1/connect/" + device.id));
        auto ice = host.receive();
        ASSERT_EQ(kindOf(ice), "iceServers");
        ASSERT_NE(channelOf(ice), 0u);
        if (channel)
            *channel = channelOf(ice);
        ASSERT_EQ(kindOf(connector.receive()), "iceServers");
    }
    // Host and helper bind and exchange a frame each way.
    void expectServiceWorks()
    {
        TestDevice device;
        WsTestClient host, connector;
        std::uint64_t channel = 0;
        ASSERT_NO_FATAL_FAILURE(bind(device, host, connector, &channel));
        connector.send(signal("offer", "\"sdp\":\"v=0\""));
        EXPECT_EQ(untagged(host.receive()), frameJson(signal("offer", "\"sdp\":\"v=0\"")));
        host.send(onChannel(signal("answer"), channel));
        EXPECT_EQ(connector.receive(), signal("answer"));
        EXPECT_TRUE(online(device.id));
    }
    static std::string sealFor(const TestDevice& from, const TestDevice& to, const std::string& text = "hello")
    {
        MailContent content;
        content.kind = MailContent::Kind::message;
        content.sentAt = 700000000;
        content.text = text;
        return MailEnvelope::seal(content, from.key, to.id, to.mail.publicKeyBase64()).encode();
    }

    std::unique_ptr<ServiceProcess> service;
};

} // namespace wl::test
