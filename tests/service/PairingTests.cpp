// The pairing rendezvous: one host per code, one joiner, a code used once, expiry.

#include "ServiceTestKit.h"

namespace wl::test {
namespace {

class Pairing : public ServiceTest {
protected:
    void SetUp() override { startService({"--pairing-expiry", "0.4"}); }
};

TEST_F(Pairing, JoinWithNoWaitingHostClosesAtOnce)
{
    WsTestClient joiner;
    ASSERT_TRUE(joiner.open(port(), "/v1/pair/join/AB12CD34"));
    EXPECT_EQ(joiner.waitClosed(), 4404);
    EXPECT_FALSE(joiner.receive(std::chrono::milliseconds(0)).has_value());

    // Codes outside the pairing alphabet are refused before the upgrade.
    for (const char* code : {"AB12CD3", "AB12CD345", "ab12cd34", "AB12CD3I", "AB12CD3O", "AB12CD3U"}) {
        WsTestClient client;
        int status = 0;
        EXPECT_FALSE(client.open(port(), std::string("/v1/pair/host/") + code, &status)) << code;
        EXPECT_EQ(status, 400) << code;
    }
}

TEST_F(Pairing, FramesAreForwardedAndTheCodeWorksOnce)
{
    WsTestClient host, joiner;
    ASSERT_TRUE(host.open(port(), "/v1/pair/host/7K3MXQ9R"));
    host.send(signal("pairInfo", "\"name\":\"too early\"")); // nobody there yet: dropped

    // A second host for a waiting code is refused.
    WsTestClient rival;
    ASSERT_TRUE(rival.open(port(), "/v1/pair/host/7K3MXQ9R"));
    EXPECT_EQ(rival.waitClosed(), 4409);

    ASSERT_TRUE(joiner.open(port(), "/v1/pair/join/7K3MXQ9R"));
    const std::string request = "{\"kind\":\"pairRequest\",\"name\":\"Bo\",\"publicKey\":\"AAAA\"}";
    joiner.send(request);
    EXPECT_EQ(host.receive(), request);
    host.send(signal("pairInfo", "\"name\":\"Ann\""));
    host.send(signal("accepted"));
    EXPECT_EQ(joiner.receive(), signal("pairInfo", "\"name\":\"Ann\""));
    EXPECT_EQ(joiner.receive(), signal("accepted"));
    // Binary and kind-less frames are dropped here too.
    joiner.sendBinary("xyz");
    joiner.send("{}");
    joiner.send(signal("bye"));
    EXPECT_EQ(host.receive(), signal("bye"));

    // A second joiner finds nothing: the code is used.
    WsTestClient late;
    ASSERT_TRUE(late.open(port(), "/v1/pair/join/7K3MXQ9R"));
    EXPECT_EQ(late.waitClosed(), 4404);

    // Either side closing closes the other.
    joiner.close();
    EXPECT_EQ(host.waitClosed(), 4410);

    // The used code does not come back.
    WsTestClient again;
    ASSERT_TRUE(again.open(port(), "/v1/pair/host/7K3MXQ9R"));
    EXPECT_EQ(again.waitClosed(), 4404);
}

TEST_F(Pairing, HostLeavingClosesTheJoiner)
{
    WsTestClient host, joiner;
    ASSERT_TRUE(host.open(port(), "/v1/pair/host/ZZZZ0000"));
    ASSERT_TRUE(joiner.open(port(), "/v1/pair/join/ZZZZ0000"));
    host.send(signal("pairInfo"));
    EXPECT_EQ(kindOf(joiner.receive()), "pairInfo");
    host.drop();
    EXPECT_EQ(joiner.waitClosed(), 4410);
}

TEST_F(Pairing, AWaitingCodeExpires)
{
    WsTestClient host;
    ASSERT_TRUE(host.open(port(), "/v1/pair/host/H0ST1NGX"));
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(host.waitClosed(), 4408);
    auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_GE(waited, std::chrono::milliseconds(300));
    EXPECT_LT(waited, std::chrono::milliseconds(3000));

    WsTestClient joiner;
    ASSERT_TRUE(joiner.open(port(), "/v1/pair/join/H0ST1NGX"));
    EXPECT_EQ(joiner.waitClosed(), 4404);
}

} // namespace
} // namespace wl::test
