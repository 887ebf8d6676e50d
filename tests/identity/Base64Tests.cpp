#include "identity/Base64.h"

#include <gtest/gtest.h>

using namespace wl;

TEST(Base64, EncodesRfc4648Vectors)
{
    EXPECT_EQ(base64Encode(""), "");
    EXPECT_EQ(base64Encode("f"), "Zg==");
    EXPECT_EQ(base64Encode("fo"), "Zm8=");
    EXPECT_EQ(base64Encode("foo"), "Zm9v");
    EXPECT_EQ(base64Encode("foob"), "Zm9vYg==");
    EXPECT_EQ(base64Encode("fooba"), "Zm9vYmE=");
    EXPECT_EQ(base64Encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(base64Encode(std::string("\xff\xfe\x00", 3)), "//4A");
}

TEST(Base64, DecodesWhatItEncodes)
{
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    for (std::size_t n = 0; n <= all.size(); n += 7) {
        const std::string bytes = all.substr(0, n);
        auto decoded = base64Decode(base64Encode(bytes));
        ASSERT_TRUE(decoded);
        EXPECT_EQ(*decoded, bytes);
    }
}

TEST(Base64, RejectsEverythingNotStrictStandardBase64)
{
    for (const char* bad : {"Zg", "Zg=", "Zg===", "Z===", "Zm9v=", "=Zg=", "Zg=a", "Zm=v", "Zh==", "Zm9=", "Zm 9v",
                            "Zm9v\n", " Zm9v", "Zm-v", "Zm_v"}) {
        EXPECT_FALSE(base64Decode(bad)) << bad;
    }
    EXPECT_FALSE(base64Decode(std::string("Zm9\0", 4)));
    EXPECT_FALSE(base64Decode("===="));
    EXPECT_FALSE(base64Decode("\xc3\xa9\xc3\xa9"));
    EXPECT_EQ(base64Decode(""), std::string());
}
