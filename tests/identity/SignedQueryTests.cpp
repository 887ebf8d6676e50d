#include "identity/Base64.h"
#include "identity/DeviceIdentity.h"
#include "identity/SignedQuery.h"
#include "platform/KeyStore.h"

#include <gtest/gtest.h>

#include <limits>

using namespace wl;

namespace {

std::string item(const std::vector<std::pair<std::string, std::string>>& items, const std::string& name)
{
    for (const auto& [k, v] : items) {
        if (k == name)
            return v;
    }
    return {};
}

} // namespace

TEST(SignedQuery, ItemsCheckAtTheService)
{
    const SigningKey key = SigningKey::generate();
    const std::string id = fingerprintOfRaw(key.publicKeyRaw());
    const std::int64_t now = 1'700'000'000;
    const auto items = signedQueryItems(kPurposeHost, key, now);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].first, "pub");
    EXPECT_EQ(items[1].first, "ts");
    EXPECT_EQ(items[2].first, "sig");
    const std::string pub = item(items, "pub"), ts = item(items, "ts"), sig = item(items, "sig");
    EXPECT_EQ(pub, key.publicKeyBase64());
    EXPECT_EQ(ts, "1700000000");
    EXPECT_TRUE(verifySignature(sig, "wickerlane-host|" + id + "|1700000000", pub));

    EXPECT_TRUE(checkSignedQuery(kPurposeHost, id, pub, ts, sig, now));
    EXPECT_TRUE(checkSignedQuery(kPurposeHost, id, pub, ts, sig, now + 300));
    EXPECT_TRUE(checkSignedQuery(kPurposeHost, id, pub, ts, sig, now - 300));
    EXPECT_FALSE(checkSignedQuery(kPurposeHost, id, pub, ts, sig, now + 301));
    EXPECT_FALSE(checkSignedQuery(kPurposeHost, id, pub, ts, sig, now - 301));
    EXPECT_FALSE(checkSignedQuery(kPurposeMailbox, id, pub, ts, sig, now));
    EXPECT_FALSE(checkSignedQuery(kPurposeHost, std::string(64, 'a'), pub, ts, sig, now));
    const SigningKey other = SigningKey::generate();
    EXPECT_FALSE(checkSignedQuery(kPurposeHost, id, other.publicKeyBase64(), ts, sig, now));
    EXPECT_FALSE(checkSignedQuery(kPurposeHost, id, pub, "1700000001", sig, now));
    EXPECT_FALSE(checkSignedQuery(kPurposeHost, id, pub, ts, "", now));
    EXPECT_FALSE(checkSignedQuery(kPurposeHost, id, pub, ts, "%%%", now));
    for (const char* badTs :
         {"", "+1700000000", "1700000000 ", " 1700000000", "1.7e9", "17000000000000000000000", "abc", "0x65"})
        EXPECT_FALSE(checkSignedQuery(kPurposeHost, id, pub, badTs, sig, now)) << badTs;
    // Extreme clocks do not overflow into acceptance.
    EXPECT_FALSE(
        checkSignedQuery(kPurposeHost, id, pub, "-9223372036854775808", sig, std::numeric_limits<std::int64_t>::max()));
}

TEST(SignedQuery, DeviceKeyItems)
{
    auto store = std::make_shared<MemoryKeyStore>();
    DeviceIdentity identity(store);
    auto items = signedQueryItems(kPurposeKeys, identity);
    ASSERT_TRUE(items);
    EXPECT_EQ(item(*items, "pub"), identity.deviceSigningKey()->publicKeyBase64());
    const std::int64_t ts = std::stoll(item(*items, "ts"));
    EXPECT_TRUE(checkSignedQuery(kPurposeKeys, identity.deviceId(), item(*items, "pub"), item(*items, "ts"),
                                 item(*items, "sig"), ts + 5));
    identity.forget();
    store->setFailReads(true);
    EXPECT_FALSE(signedQueryItems(kPurposeKeys, identity));
}
