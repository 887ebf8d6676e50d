#include "platform/Defaults.h"
#include "platform/InfoDictionary.h"
#include "platform/Log.h"
#include "platform/linux/ProgramInfoDictionary.h"
#include "platform/linux/QtLog.h"

#include "TestDirs.h"

#include <QString>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace wl;

TEST(ProgramInfoDictionary, DefaultsThenSettingsThenEnvironment)
{
    auto defaults = std::make_shared<MemoryDefaults>();
    unsetenv("WLIntroductionURL");
    unsetenv("SUFeedURL");
    ProgramInfoDictionary info(defaults);

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

    // The program's default address is this dictionary's own: an introduction URL that
    // cannot be used, set or in the environment, gives it, and says so in the log; an
    // empty one gives it quietly.
    for (const char* bad : {"not a url", "ftp://example.org/", "http://", "", " "}) {
        CapturedLog log;
        setenv("WLIntroductionURL", bad, 1);
        EXPECT_EQ(info.value("WLIntroductionURL"), "http://127.0.0.1:8787/") << bad;
        unsetenv("WLIntroductionURL");
        defaults->setString("WLIntroductionURL", bad);
        EXPECT_EQ(info.value("WLIntroductionURL"), "http://127.0.0.1:8787/") << bad;
        const std::string line =
            std::string("Wickerlane: the introduction URL ") + bad + " is not usable; using http://127.0.0.1:8787/";
        EXPECT_EQ(log.contains(line), !QString(bad).trimmed().isEmpty()) << bad;
    }
    unsetenv("WLIntroductionURL");
}

TEST(InfoDictionary, AMapAnswersOnlyItsKeys)
{
    const InfoDictionary& info =
        MapInfoDictionary(std::map<std::string, std::string>{{"WLIntroductionURL", "http://127.0.0.1:1/"}});
    EXPECT_EQ(info.string("WLIntroductionURL"), "http://127.0.0.1:1/");
    EXPECT_EQ(info.string("SUFeedURL"), "");
    // The stand-in a platform record starts with has no key at all.
    EXPECT_EQ(MapInfoDictionary().value("WLIntroductionURL"), std::nullopt);
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

// A datagram socket in a folder of the test's own stands for the journal's.
class JournalStandIn {
public:
    JournalStandIn() : path_((dir_.path() / "journal.socket").string())
    {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path_.copy(address.sun_path, sizeof(address.sun_path) - 1);
        bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~JournalStandIn() { close(fd_); }
    const std::string& path() const { return path_; }
    bool bound() const { return bound_; }
    // The next datagram, or "" when none is waiting.
    std::string take()
    {
        std::string buffer(65536, '\0');
        ssize_t size = recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
        return size > 0 ? buffer.substr(0, static_cast<size_t>(size)) : std::string();
    }

private:
    wl::test::TempDir dir_;
    std::string path_;
    int fd_ = -1;
    bool bound_ = false;
};

// The MESSAGE field of a native journal datagram (its length-prefixed form).
std::string journalMessage(const std::string& datagram)
{
    auto at = datagram.find("MESSAGE\n");
    if (at == std::string::npos || datagram.size() < at + 16)
        return "<no MESSAGE>";
    at += 8;
    uint64_t length = 0;
    for (int i = 0; i < 8; ++i)
        length |= uint64_t(static_cast<unsigned char>(datagram[at + i])) << (8 * i);
    return datagram.substr(at + 8, length);
}

TEST(QtLog, LinesGoThroughQtInfoAndTheJournal)
{
    JournalStandIn journal;
    ASSERT_TRUE(journal.bound());
    QtMessageHandler previous = qInstallMessageHandler(capture);
    installQtLogSink(journal.path());
    Log::line("Wickerlane: hello from the log test 100%");
    Log::line("Wickerlane: two\nlines");
    // Where no journal listens, lines still reach stderr, and nothing waits; the first says
    // so, once.
    installQtLogSink(journal.path() + ".absent");
    Log::line("Wickerlane: no journal here");
    Log::line("Wickerlane: still none");
    Log::setSink(nullptr);
    qInstallMessageHandler(previous);

    std::string first = journal.take();
    EXPECT_NE(first.find("SYSLOG_IDENTIFIER=wickerlane\n"), std::string::npos) << first;
    EXPECT_NE(first.find("PRIORITY=6\n"), std::string::npos) << first;
    EXPECT_EQ(journalMessage(first), "Wickerlane: hello from the log test 100%");
    EXPECT_EQ(journalMessage(journal.take()), "Wickerlane: two\nlines");
    EXPECT_EQ(journal.take(), "");

    std::lock_guard guard(capturedLock);
    ASSERT_EQ(captured.size(), 5u);
    EXPECT_EQ(captured[0].first, QtInfoMsg);
    EXPECT_EQ(captured[0].second, "Wickerlane: hello from the log test 100%");
    EXPECT_EQ(captured[2].second,
              "Wickerlane: no systemd journal listens at " + journal.path() + ".absent; the log goes to stderr only");
    EXPECT_EQ(captured[3].second, "Wickerlane: no journal here");
    EXPECT_EQ(captured[4].second, "Wickerlane: still none");
}
