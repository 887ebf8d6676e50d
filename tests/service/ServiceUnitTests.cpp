// Units of the service core that have rules of their own: request targets and their
// query items, rate limits, relay credentials, the command line, the mail store.

#include "ConnectionLimits.h"
#include "MailStore.h"
#include "RateLimiter.h"
#include "RelayServers.h"
#include "RequestTarget.h"
#include "ServiceConfig.h"
#include "TestDirs.h"

#include <gtest/gtest.h>
#include <fstream>
#include <nlohmann/json.hpp>

namespace wl::service {
namespace {

TEST(ServiceUnitTarget, RoutesAndKeys)
{
    const std::string id(64, 'f');
    auto status = RequestTarget::parse("/v1/status/" + id);
    EXPECT_EQ(status.kind, RouteKind::status);
    EXPECT_TRUE(status.keyValid);
    EXPECT_FALSE(RequestTarget::parse("/v1/status/" + std::string(64, 'F')).keyValid);
    EXPECT_EQ(RequestTarget::parse("/v1/status/" + id + "/").kind, RouteKind::unknown);
    EXPECT_EQ(RequestTarget::parse("v1/status/" + id).kind, RouteKind::unknown);
    EXPECT_EQ(RequestTarget::parse("/v1/pair/join/ABCDEFGH").kind, RouteKind::pairJoin);
    EXPECT_TRUE(RequestTarget::parse("/v1/pair/host/0123ZYXW").keyValid);
    EXPECT_FALSE(RequestTarget::parse("/v1/pair/host/0123ZYXU").keyValid); // U is not in the alphabet
    EXPECT_EQ(RequestTarget::parse("/v1/pair/" + id).kind, RouteKind::unknown);
}

TEST(ServiceUnitTarget, QueryItemsArePercentDecodedAndPlusIsKept)
{
    auto target = RequestTarget::parse("/v1/host/x?pub=ab%2Bc%2F%3D&ts=12&sig=a+b&empty=&sig2");
    EXPECT_TRUE(target.queryValid);
    EXPECT_EQ(target.single("pub"), "ab+c/=");
    EXPECT_EQ(target.single("sig"), "a+b");
    EXPECT_EQ(target.single("empty"), "");
    EXPECT_EQ(target.single("missing"), std::nullopt);
    auto repeated = RequestTarget::parse("/v1/host/x?ts=1&ts=1");
    EXPECT_EQ(repeated.single("ts"), std::nullopt);
    EXPECT_FALSE(RequestTarget::parse("/v1/host/x?pub=%2").queryValid);
    EXPECT_FALSE(RequestTarget::parse("/v1/host/x?pub=%zz").queryValid);
    EXPECT_EQ(percentDecode("%41%62"), "Ab");
    EXPECT_EQ(percentDecode("100%"), std::nullopt);
}

TEST(ServiceUnitRateLimiter, WindowAndRefill)
{
    using namespace std::chrono_literals;
    RateLimiter limiter(3, 10s);
    auto t0 = RateLimiter::Clock::now();
    EXPECT_TRUE(limiter.allow("a", t0));
    EXPECT_TRUE(limiter.allow("a", t0));
    EXPECT_TRUE(limiter.allow("a", t0));
    EXPECT_FALSE(limiter.allow("a", t0 + 1s));
    EXPECT_TRUE(limiter.allow("b", t0 + 1s)); // per key
    EXPECT_TRUE(limiter.allow("a", t0 + 3400ms)); // one event back after a third of the window
    EXPECT_FALSE(limiter.allow("a", t0 + 3500ms));
    limiter.prune(t0 + 60s);
    EXPECT_EQ(limiter.trackedKeys(), 0u);
}

// One machine may pick any address of its IPv6 /64: the per-address limits count the /64 as
// one address, and IPv4 addresses each as themselves.
TEST(ServiceUnitLimits, AnIpv6SlashSixtyFourIsOneAddress)
{
    ConnectionLimits limits(2, 100);
    std::vector<ConnectionLimits::Slot> held;
    const auto admitted = [&](const char* address) {
        auto slot = limits.admit(address);
        if (slot)
            held.push_back(std::move(*slot));
        return slot.has_value();
    };
    EXPECT_TRUE(admitted("2001:db8:1:2::1"));
    EXPECT_TRUE(admitted("2001:db8:1:2:ffff:ffff:ffff:fffe"));
    EXPECT_FALSE(admitted("2001:db8:1:2:8000::7")) << "a third address of the same /64";
    EXPECT_TRUE(admitted("2001:db8:1:3::1")) << "the next /64";
    EXPECT_EQ(limits.openFrom("2001:db8:1:2::42"), 2u);
    EXPECT_EQ(limits.openFrom("2001:db8:1:3::42"), 1u);
    EXPECT_TRUE(admitted("192.0.2.1"));
    EXPECT_TRUE(admitted("192.0.2.1"));
    EXPECT_FALSE(admitted("192.0.2.1"));
    EXPECT_TRUE(admitted("192.0.2.2"));
    EXPECT_FALSE(admitted("::ffff:192.0.2.1")) << "IPv4 mapped into IPv6 is the IPv4 address";
    held.clear();
    EXPECT_EQ(limits.open(), 0u);

    // The connection and request rates go by the same key.
    RateLimiter rate(1, std::chrono::seconds(10));
    const auto now = RateLimiter::Clock::now();
    EXPECT_TRUE(rate.allow(addressKey("2001:db8:1:2::1"), now));
    EXPECT_FALSE(rate.allow(addressKey("2001:db8:1:2::2"), now));
    EXPECT_TRUE(rate.allow(addressKey("2001:db8:1:3::1"), now));
    EXPECT_TRUE(rate.allow(addressKey("192.0.2.1"), now));
    EXPECT_TRUE(rate.allow(addressKey("192.0.2.2"), now));
}

TEST(ServiceUnitRelays, FrameShapes)
{
    RelayServers none({}, {}, {}, std::chrono::seconds(86400));
    EXPECT_EQ(nlohmann::json::parse(none.iceServersFrame("id", 0)),
              nlohmann::json::parse(R"({"kind":"iceServers","iceServers":[]})"));
    // RFC 2202 test case 2 for HMAC-SHA1: key "Jefe", "what do ya want for nothing?".
    EXPECT_EQ(RelayServers::turnCredential("Jefe", "what do ya want for nothing?"), "7/zfauXrL6LSdBbV8YTfnCWafHk=");
    RelayServers noSecret({}, {"turn:h"}, {}, std::chrono::seconds(60));
    auto frame = nlohmann::json::parse(noSecret.iceServersFrame("id", 100));
    EXPECT_FALSE(frame["iceServers"][0].contains("username"));
    RelayServers withSecret({}, {"turn:h"}, "s", std::chrono::seconds(60));
    frame = nlohmann::json::parse(withSecret.iceServersFrame("abc", 100));
    EXPECT_EQ(frame["iceServers"][0]["username"], "160:abc");
}

TEST(ServiceUnitConfig, CommandLine)
{
    const char* args[] = {"svc",
                          "--listen",
                          "0.0.0.0",
                          "--port=0",
                          "--stun",
                          "stun:a",
                          "--stun",
                          "stun:b",
                          "--idle-timeout",
                          "0.25",
                          "--pairing-expiry",
                          "2",
                          "--connection-rate",
                          "7",
                          "--db",
                          "/tmp/x.db"};
    auto parsed = parseCommandLine(static_cast<int>(std::size(args)), args);
    ASSERT_TRUE(parsed.config) << parsed.message;
    EXPECT_EQ(parsed.config->listenAddress, "0.0.0.0");
    EXPECT_EQ(parsed.config->port, 0);
    EXPECT_EQ(parsed.config->stunUrls, (std::vector<std::string>{"stun:a", "stun:b"}));
    EXPECT_EQ(parsed.config->idleTimeout, std::chrono::milliseconds(250));
    EXPECT_EQ(parsed.config->pairingExpiry, std::chrono::milliseconds(2000));
    EXPECT_EQ(parsed.config->connectionsPer10Seconds, 7u);
    EXPECT_EQ(parsed.config->maxFrameBytes, 65536u);

    const char* help[] = {"svc", "--help"};
    auto helpParsed = parseCommandLine(2, help);
    EXPECT_FALSE(helpParsed.config);
    EXPECT_FALSE(helpParsed.isError);
    EXPECT_NE(helpParsed.message.find("--pairing-expiry"), std::string::npos);

    for (auto bad : std::vector<std::vector<const char*>>{{"svc", "--port", "70000"},
                                                          {"svc", "--idle-timeout", "-1"},
                                                          {"svc", "--cert", "a.pem"},
                                                          {"svc", "--frobnicate"},
                                                          {"svc", "--port"}}) {
        auto result = parseCommandLine(static_cast<int>(bad.size()), bad.data());
        EXPECT_FALSE(result.config);
        EXPECT_TRUE(result.isError);
    }
}

TEST(ServiceUnitConfig, TurnSecretFromAFileOrTheEnvironment)
{
    wl::test::TempDir dir;
    auto secretFile = (dir.path() / "turn-secret").string();
    std::ofstream(secretFile) << "s3cret with spaces\n";
    const char* fromFile[] = {"svc", "--db", "/tmp/x.db", "--turn-secret-file", secretFile.c_str()};
    auto parsed = parseCommandLine(5, fromFile);
    ASSERT_TRUE(parsed.config) << parsed.message;
    EXPECT_EQ(parsed.config->turnSecret, "s3cret with spaces");

    auto missing = (dir.path() / "missing").string();
    const char* fromMissing[] = {"svc", "--db", "/tmp/x.db", "--turn-secret-file", missing.c_str()};
    parsed = parseCommandLine(5, fromMissing);
    EXPECT_FALSE(parsed.config);
    EXPECT_NE(parsed.message.find("cannot read the TURN secret file " + missing), std::string::npos);

    auto empty = (dir.path() / "empty").string();
    std::ofstream(empty) << "\n";
    const char* fromEmpty[] = {"svc", "--db", "/tmp/x.db", "--turn-secret-file", empty.c_str()};
    parsed = parseCommandLine(5, fromEmpty);
    EXPECT_FALSE(parsed.config);
    EXPECT_NE(parsed.message.find("is empty"), std::string::npos);

    const char* both[] = {"svc", "--db", "/tmp/x.db", "--turn-secret", "a", "--turn-secret-file", secretFile.c_str()};
    EXPECT_FALSE(parseCommandLine(7, both).config);

    setenv("WICKERLANE_TURN_SECRET", "from-env", 1);
    const char* plain[] = {"svc", "--db", "/tmp/x.db"};
    parsed = parseCommandLine(3, plain);
    unsetenv("WICKERLANE_TURN_SECRET");
    ASSERT_TRUE(parsed.config);
    EXPECT_EQ(parsed.config->turnSecret, "from-env");
}

TEST(ServiceUnitConfig, SendBudgetLeavesRoomForTheLargestFrame)
{
    const char* tooSmall[] = {"svc", "--db", "/tmp/x.db", "--send-budget", "1048576", "--max-frame", "131072"};
    EXPECT_FALSE(parseCommandLine(7, tooSmall).config);
    const char* fine[] = {"svc", "--db", "/tmp/x.db", "--send-budget", "2097152", "--connections-per-address", "3"};
    auto parsed = parseCommandLine(7, fine);
    ASSERT_TRUE(parsed.config) << parsed.message;
    EXPECT_EQ(parsed.config->sendBudgetBytes, 2097152u);
    EXPECT_EQ(parsed.config->connectionsPerAddress, 3u);
}

TEST(ServiceUnitMailStore, KeepsEnvelopesInOrderAndSurvivesReopening)
{
    wl::test::TempDir dir;
    auto path = (dir.path() / "sub" / "db.sqlite").string();
    {
        std::string error;
        auto store = MailStore::open(path, &error);
        ASSERT_TRUE(store) << error;
        EXPECT_TRUE(store->insertEnvelope("r", "e1", "s", std::string("a\0b", 3), 100));
        EXPECT_TRUE(store->insertEnvelope("r", "e2", "s", "two", 200));
        EXPECT_TRUE(store->insertEnvelope("q", "e1", "s", "other mailbox", 200));
        EXPECT_TRUE(store->hasEnvelope("r", "e1"));
        EXPECT_EQ(store->mailboxCount("r"), 2u);
        EXPECT_TRUE(store->putKeyRecord("r", "{}", "key"));
        EXPECT_TRUE(store->putKeyRecord("r", "{\"v\":2}", "key2"));
    }
    std::string error;
    auto store = MailStore::open(path, &error);
    ASSERT_TRUE(store) << error;
    auto pending = store->pending("r", 0, 0, 10);
    ASSERT_EQ(pending.size(), 2u);
    EXPECT_EQ(pending[0].body, std::string("a\0b", 3));
    EXPECT_EQ(pending[1].id, "e2");
    EXPECT_EQ(store->pending("r", 0, 150, 10).size(), 1u);
    // Pages: a limit, and after a sequence number.
    ASSERT_EQ(store->pending("r", 0, 0, 1).size(), 1u);
    auto rest = store->pending("r", pending[0].seq, 0, 10);
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0].id, "e2");
    EXPECT_TRUE(store->pending("r", pending[1].seq, 0, 10).empty());
    EXPECT_EQ(store->keyRecord("r"), "{\"v\":2}");
    EXPECT_EQ(store->signingKeyOf("r"), "key2");
    EXPECT_TRUE(store->remove("r", "e1"));
    EXPECT_FALSE(store->remove("r", "e1"));
    EXPECT_EQ(store->dropOlderThan(250), 2);
    EXPECT_EQ(store->mailboxCount("q"), 0u);

    EXPECT_FALSE(MailStore::open("/proc/no/such/place/db.sqlite", &error));
}

} // namespace
} // namespace wl::service
