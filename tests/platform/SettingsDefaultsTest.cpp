#include "platform/linux/SettingsDefaults.h"

#include "TestDirs.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace wl;

TEST(SettingsDefaults, KeepsEveryKindOfValue)
{
    test::TempDir dir;
    SettingsDefaults defaults(QString::fromStdString(dir.str() + "/settings.conf"));
    std::string bytes("{\"a\":1}\0\x01\xff", 10);
    defaults.setData("WLData", bytes);
    defaults.setString("WLName", "Ada Lovelace");
    defaults.setBool("WLFlag", true);
    defaults.setNumber("WLWidth", 1920.5);
    defaults.setStringList("WLEmpty", {});
    defaults.setStringList("WLOne", {"only"});
    defaults.setStringList("WLTwo", {"a", "b, c"});

    EXPECT_EQ(defaults.data("WLData"), bytes);
    EXPECT_EQ(defaults.string("WLName"), "Ada Lovelace");
    EXPECT_TRUE(defaults.boolValue("WLFlag"));
    EXPECT_EQ(defaults.number("WLWidth"), 1920.5);
    EXPECT_TRUE(defaults.contains("WLEmpty"));
    EXPECT_TRUE(defaults.stringList("WLEmpty").empty());
    EXPECT_EQ(defaults.stringList("WLOne"), std::vector<std::string>{"only"});
    EXPECT_EQ(defaults.stringList("WLTwo"), (std::vector<std::string>{"a", "b, c"}));

    defaults.remove("WLName");
    EXPECT_FALSE(defaults.contains("WLName"));
    EXPECT_EQ(defaults.string("WLName"), std::nullopt);
    EXPECT_FALSE(defaults.boolValue("WLMissing"));
    EXPECT_EQ(defaults.number("WLMissing"), std::nullopt);
    EXPECT_EQ(defaults.data("WLMissing"), std::nullopt);
}

TEST(SettingsDefaults, ReadsTheValuesOfAnIniFileAsQtWritesThem)
{
    test::TempDir dir;
    std::string path = dir.str() + "/written.conf";
    {
        std::ofstream file(path);
        file << "[General]\n"
                "WLData=@ByteArray(\\0\\x1zz)\n"
                "WLEmpty=@Invalid()\n"
                "WLOne=stun:127.0.0.1:3478\n"
                "WLTwo=a, b\n"
                "WLForceRelay=true\n"
                "WLOff=false\n"
                "WLMaxWidth=1280\n"
                "WLText=hello\n";
    }
    SettingsDefaults defaults(QString::fromStdString(path));
    EXPECT_EQ(defaults.data("WLData"), std::string("\0\x01zz", 4));
    EXPECT_TRUE(defaults.contains("WLEmpty"));
    EXPECT_TRUE(defaults.stringList("WLEmpty").empty());
    EXPECT_EQ(defaults.stringList("WLOne"), std::vector<std::string>{"stun:127.0.0.1:3478"});
    EXPECT_EQ(defaults.stringList("WLTwo"), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(defaults.boolValue("WLForceRelay"));
    EXPECT_FALSE(defaults.boolValue("WLOff"));
    EXPECT_EQ(defaults.number("WLMaxWidth"), 1280.0);
    EXPECT_EQ(defaults.number("WLText"), std::nullopt);
    EXPECT_FALSE(defaults.boolValue("WLText"));
}
