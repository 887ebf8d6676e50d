// Updates against a feed this test serves over HTTPS on 127.0.0.1, with a certificate
// the test trusts: a good signed update is installed only once neither busy question
// answers true; a bad signature, a download cut short, a malformed feed and more each
// leave the installed program exactly as it was, with a log line; so does an installation
// that fails midway, once undone.
#include "LoopbackHttpsServer.h"
#include "ManualTimers.h"
#include "ScriptedPrompts.h"
#include "TestDirs.h"
#include "WaitUntil.h"

#include "app/Updates.h"
#include "identity/Keys.h"
#include "platform/InfoDictionary.h"
#include "platform/Log.h"
#include "platform/linux/FeedUpdater.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace std::chrono_literals;

namespace wl::test {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const fs::path& path, const std::string& bytes, bool executable = false)
{
    std::ofstream(path, std::ios::binary) << bytes;
    if (executable)
        fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec,
                        fs::perm_options::replace);
}

// Everything in a folder, name → bytes.
std::map<std::string, std::string> contents(const fs::path& folder)
{
    std::map<std::string, std::string> result;
    for (const auto& entry : fs::directory_iterator(folder))
        result[entry.path().filename().string()] = entry.is_regular_file() ? readFile(entry.path()) : "<folder>";
    return result;
}

// A tar archive of the given files, made with the tar command.
QByteArray tarOf(const std::map<std::string, std::string>& files)
{
    TempDir dir;
    fs::create_directories(dir.path() / "in");
    QStringList names;
    for (const auto& [name, bytes] : files) {
        writeFile(dir.path() / "in" / name, bytes, true);
        names << QString::fromStdString(name);
    }
    const auto archive = dir.path() / "update.tar";
    QProcess tar;
    tar.start(QStringLiteral("tar"),
              QStringList{QStringLiteral("-cf"), QString::fromStdString(archive.string()), QStringLiteral("-C"),
                          QString::fromStdString((dir.path() / "in").string())} +
                  names);
    EXPECT_TRUE(tar.waitForFinished(20000));
    return QByteArray::fromStdString(readFile(archive));
}

QByteArray feedWith(const QString& url, const std::string& version, const std::string& signature,
                    std::optional<qint64> length)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                     "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">\n"
                     "<channel><title>Wickerlane</title>\n"
                     "<item><title>Version 0.0.9</title><enclosure url=\"https://127.0.0.1:1/old.tar\" "
                     "sparkle:version=\"0.0.9\" sparkle:edSignature=\"AAAA\" length=\"10\"/></item>\n"
                     "<item><title>Version " +
        QByteArray::fromStdString(version) + "</title><sparkle:version>" + QByteArray::fromStdString(version) +
        "</sparkle:version><enclosure url=\"" + url.toUtf8() + "\" sparkle:edSignature=\"" +
        QByteArray::fromStdString(signature) + "\"";
    if (length)
        xml += " length=\"" + QByteArray::number(*length) + "\"";
    xml += " type=\"application/x-tar\"/></item>\n</channel></rss>\n";
    return xml;
}

// The installed program, a feed server, a signing key, and the shell's Updates over a
// real FeedUpdater with manual timers.
struct UpdateRig {
    UpdateRig()
    {
        fs::create_directories(installed.path());
        writeFile(installed.path() / "wickerlane", "old program", true);
        writeFile(installed.path() / "wickerlane.conf", "old settings");
        before = contents(installed.path());
        newArchive = tarOf({{"wickerlane", newProgram}, {"wickerlane.conf", "new settings"}});
    }

    void serveFeed(const QByteArray& feed) { server.route("/appcast.xml", {200, feed, "application/rss+xml", {}}); }
    // A feed naming the archive at /update.tar, signed as given.
    void serveUpdate(const QByteArray& archive, const std::string& signature, std::optional<qint64> length)
    {
        server.route("/update.tar", {200, archive, "application/x-tar", {}});
        serveFeed(feedWith(server.url("/update.tar"), "0.2.0", signature, length));
    }

    void start(std::string feed = {})
    {
        if (feed.empty())
            feed = server.url("/appcast.xml").toStdString();
        auto info = std::make_shared<MapInfoDictionary>(std::map<std::string, std::string>{
            {InfoKey::feedURL, feed}, {InfoKey::publicEDKey, key.publicKeyBase64()}});
        updates = std::make_unique<Updates>(
            [this](const QUrl& feedURL, const std::string& publicKey) {
                FeedUpdaterOptions options;
                options.feedURL = feedURL;
                options.publicKey = publicKey;
                options.currentVersion = "0.1.0";
                options.programDirectory = installed.path();
                options.relaunch = [this] { ++relaunched; };
                options.timers = checkTimers.factory();
                options.maxArchiveBytes = maxArchiveBytes;
                options.extraCertificates = {server.certificate()};
                options.prompts = &prompts;
                auto updater = std::make_unique<FeedUpdater>(options);
                feedUpdater = updater.get();
                return updater;
            },
            info, idleTimers.factory());
        updates->isIdle = [this] {
            asked.push_back("isBeingHelped");
            if (beingHelped)
                return false;
            asked.push_back("isHelping");
            return !helping;
        };
        updates->start();
    }

    // Fires the first automatic check (or a later one) and waits until it is over.
    bool runCheck(std::chrono::milliseconds delay = 1min)
    {
        const int before = feedUpdater ? feedUpdater->checksFinished() : 0;
        if (!feedUpdater || !checkTimers.fireNext(delay))
            return false;
        return waitUntil([&] { return feedUpdater->checksFinished() > before; }, 20000);
    }
    bool runCheckAgain() { return runCheck(24h); }
    // A check the user asked for, waited for.
    bool runUserCheck()
    {
        const int before = feedUpdater->checksFinished();
        updates->checkForUpdates();
        return waitUntil([&] { return feedUpdater->checksFinished() > before; }, 20000);
    }
    // Nothing but the installed files: no staging folder left behind.
    bool unchangedAndClean() const
    {
        return contents(installed.path()) == before && relaunched == 0 && !updates->hasPendingInstall();
    }

    // The installed files as they were (a staging folder of a waiting update aside).
    bool unchanged() const
    {
        auto now = contents(installed.path());
        std::erase_if(now, [](const auto& entry) { return entry.first.rfind(".wickerlane-update-", 0) == 0; });
        return now == before;
    }

    // Large enough that half the archive ends inside it.
    const std::string newProgram = "new program" + std::string(30000, 'x');
    LoopbackHttpsServer server;
    SigningKey key = SigningKey::generate();
    TempDir installed;
    std::map<std::string, std::string> before;
    QByteArray newArchive;
    ManualTimers checkTimers;
    ManualTimers idleTimers;
    ScriptedPrompts prompts;
    std::unique_ptr<Updates> updates;
    FeedUpdater* feedUpdater = nullptr;
    qint64 maxArchiveBytes = qint64(512) << 20;
    bool beingHelped = false;
    bool helping = false;
    std::vector<std::string> asked;
    int relaunched = 0;
};

TEST(Updates, AGoodUpdateWaitsUntilNobodyIsHelpingOrHelped)
{
    UpdateRig rig;
    ASSERT_TRUE(rig.server.listening()) << "no test certificate or no listening socket";
    rig.serveUpdate(rig.newArchive, rig.key.sign(rig.newArchive.toStdString()), rig.newArchive.size());
    rig.beingHelped = true;
    CapturedLog log;
    rig.start();
    ASSERT_NE(rig.updates->controller(), nullptr);
    EXPECT_EQ(rig.checkTimers.delays().at(0), 1min) << "the first check comes a minute after start-up";

    ASSERT_TRUE(rig.runCheck());
    EXPECT_EQ(rig.feedUpdater->lastOutcome(), "ready 0.2.0");
    EXPECT_EQ(rig.server.requests("/update.tar"), 1);
    EXPECT_TRUE(rig.updates->hasPendingInstall());
    EXPECT_TRUE(rig.updates->waiting());
    EXPECT_EQ(rig.idleTimers.delays().back(), 60s);
    EXPECT_TRUE(rig.unchanged()) << "a helper is in session here";
    EXPECT_EQ(rig.asked, (std::vector<std::string>{"isBeingHelped"}))
        << "isHelping is not asked once the first says yes";
    EXPECT_EQ(rig.checkTimers.delays().back(), 24h) << "the next automatic check";

    // The session here ended, but this computer now helps another.
    rig.beingHelped = false;
    rig.helping = true;
    ASSERT_TRUE(rig.idleTimers.fireNext(60s));
    EXPECT_TRUE(rig.unchanged());
    EXPECT_EQ(rig.relaunched, 0);
    EXPECT_TRUE(rig.updates->waiting());

    // A later check of the same feed does not fetch the waiting update again.
    ASSERT_TRUE(rig.runCheckAgain());
    EXPECT_EQ(rig.server.requests("/update.tar"), 1);

    // Nobody busy at the next check: installed and reopened.
    rig.helping = false;
    ASSERT_TRUE(rig.idleTimers.fireNext(60s));
    EXPECT_EQ(
        contents(rig.installed.path()),
        (std::map<std::string, std::string>{{"wickerlane", rig.newProgram}, {"wickerlane.conf", "new settings"}}));
    EXPECT_TRUE(fs::status(rig.installed.path() / "wickerlane").permissions() != fs::perms::none);
    EXPECT_EQ(fs::status(rig.installed.path() / "wickerlane").permissions() & fs::perms::owner_exec,
              fs::perms::owner_exec);
    EXPECT_EQ(rig.relaunched, 1);
    EXPECT_FALSE(rig.updates->hasPendingInstall());
    EXPECT_FALSE(rig.updates->waiting());
    EXPECT_TRUE(log.contains("Wickerlane: installing an update and reopening"));
    EXPECT_EQ(rig.prompts.count(), 0u) << "automatic checks ask nothing";
}

TEST(Updates, NoBusyQuestionAnsweringTrueInstallsAtOnce)
{
    UpdateRig rig;
    ASSERT_TRUE(rig.server.listening());
    rig.serveUpdate(rig.newArchive, rig.key.sign(rig.newArchive.toStdString()), std::nullopt);
    rig.start();
    ASSERT_TRUE(rig.runCheck());
    EXPECT_EQ(readFile(rig.installed.path() / "wickerlane"), rig.newProgram);
    EXPECT_EQ(rig.relaunched, 1);
    EXPECT_EQ(rig.asked, (std::vector<std::string>{"isBeingHelped", "isHelping"}));
    EXPECT_EQ(rig.idleTimers.activeCount(), 0u);
}

// Every way an update can be bad leaves the program as it was and says why in the log.
TEST(Updates, BadUpdatesChangeNothing)
{
    struct Case {
        const char* what;
        std::function<void(UpdateRig&)> serve;
        const char* logged;
    };
    const std::vector<Case> cases = {
        {"a bad signature",
         [](UpdateRig& rig) {
             auto other = rig.newArchive;
             other[other.size() - 1] = 'x';
             rig.serveUpdate(rig.newArchive, rig.key.sign(other.toStdString()), rig.newArchive.size());
         },
         "does not verify"},
        {"a signature by another key",
         [](UpdateRig& rig) {
             rig.serveUpdate(rig.newArchive, SigningKey::generate().sign(rig.newArchive.toStdString()),
                             rig.newArchive.size());
         },
         "does not verify"},
        {"an archive cut short by the server",
         [](UpdateRig& rig) {
             rig.serveUpdate(rig.newArchive, rig.key.sign(rig.newArchive.toStdString()), rig.newArchive.size());
             rig.server.route("/update.tar", {200, rig.newArchive, "application/x-tar", rig.newArchive.size() / 2});
         },
         "Wickerlane: update not installed: the download"},
        {"an archive shorter than the feed announces",
         [](UpdateRig& rig) {
             auto half = rig.newArchive.left(rig.newArchive.size() / 2);
             rig.server.route("/update.tar", {200, half, "application/x-tar", {}});
             rig.serveFeed(feedWith(rig.server.url("/update.tar"), "0.2.0", rig.key.sign(half.toStdString()),
                                    rig.newArchive.size()));
         },
         "cut short"},
        {"a truncated archive with a good signature of its bytes",
         [](UpdateRig& rig) {
             auto half = rig.newArchive.left(rig.newArchive.size() / 2);
             rig.serveUpdate(half, rig.key.sign(half.toStdString()), half.size());
         },
         "does not unpack"},
        {"a malformed feed",
         [](UpdateRig& rig) { rig.serveFeed("<rss version=\"2.0\"><channel><item><enclosure url=\"https://"); },
         "the feed does not parse"},
        {"a feed that is not a feed", [](UpdateRig& rig) { rig.serveFeed("{\"version\": \"9.9\"}"); },
         "the feed does not parse"},
        {"no feed at the address", [](UpdateRig&) {}, "the feed could not be read"},
        {"an archive larger than allowed",
         [](UpdateRig& rig) {
             rig.maxArchiveBytes = rig.newArchive.size() - 1;
             rig.serveUpdate(rig.newArchive, rig.key.sign(rig.newArchive.toStdString()), std::nullopt);
         },
         "larger than"},
        {"an archive without the program",
         [](UpdateRig& rig) {
             auto other = tarOf({{"readme", "hello"}});
             rig.serveUpdate(other, rig.key.sign(other.toStdString()), other.size());
         },
         "has no program wickerlane"},
        {"an installation that fails midway, undone",
         [](UpdateRig& rig) {
             // A folder stands where one of the files goes; the files moved in before it
             // are put back (readdir order decides which, so several come with it).
             fs::create_directories(rig.installed.path() / "wickerlane.d");
             writeFile(rig.installed.path() / "wickerlane.d" / "kept", "old part");
             rig.before = contents(rig.installed.path());
             auto archive = tarOf({{"wickerlane", rig.newProgram},
                                   {"wickerlane.conf", "new settings"},
                                   {"wickerlane.d", "a file"},
                                   {"helper-1", "new"},
                                   {"helper-2", "new"},
                                   {"helper-3", "new"},
                                   {"helper-4", "new"}});
             rig.serveUpdate(archive, rig.key.sign(archive.toStdString()), archive.size());
         },
         "wickerlane.d aside"},
        {"an update over plain HTTP",
         [](UpdateRig& rig) {
             rig.server.route("/update.tar", {200, rig.newArchive, "application/x-tar", {}});
             rig.serveFeed(feedWith("http://127.0.0.1:" + QString::number(rig.server.port()) + "/update.tar", "0.2.0",
                                    rig.key.sign(rig.newArchive.toStdString()), rig.newArchive.size()));
         },
         "is not https"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        UpdateRig rig;
        ASSERT_TRUE(rig.server.listening());
        c.serve(rig);
        CapturedLog log;
        rig.start();
        ASSERT_TRUE(rig.runCheck());
        EXPECT_TRUE(rig.unchangedAndClean()) << rig.feedUpdater->lastOutcome();
        EXPECT_EQ(rig.feedUpdater->lastOutcomeKind(), FeedUpdater::Outcome::notInstalled);
        EXPECT_TRUE(log.contains(c.logged)) << rig.feedUpdater->lastOutcome();
        EXPECT_TRUE(log.contains("Wickerlane: update not installed: "));
        EXPECT_EQ(rig.checkTimers.delays().back(), 24h) << "checks go on";
    }
}

// The waiting update's files were changed before it was installed: folders with files in
// them stand where its files were. The installation fails at the last of them (a folder
// stands at its place in the program's folder too), and the ones moved in before it can't
// be taken out again. That is not a clean failure: the log line says so and names each
// path left behind.
TEST(Updates, AnInstallationThatCantBeWhollyUndoneSaysWhatIsLeftWhere)
{
    UpdateRig rig;
    ASSERT_TRUE(rig.server.listening());
    rig.serveUpdate(rig.newArchive, rig.key.sign(rig.newArchive.toStdString()), rig.newArchive.size());
    rig.beingHelped = true;
    rig.start();
    ASSERT_TRUE(rig.runCheck());
    ASSERT_EQ(rig.feedUpdater->lastOutcomeKind(), FeedUpdater::Outcome::ready);

    fs::path files;
    for (const auto& entry : fs::directory_iterator(rig.installed.path()))
        if (entry.path().filename().string().rfind(".wickerlane-update-", 0) == 0)
            files = entry.path() / "files";
    ASSERT_TRUE(fs::is_directory(files));
    fs::remove_all(files);
    for (const char* name : {"part-1", "part-2", "part-3"}) {
        fs::create_directories(files / name);
        writeFile(files / name / "inside", "part");
    }
    // The order the installation meets them in.
    std::vector<fs::path> targets;
    for (const auto& entry : fs::directory_iterator(files))
        targets.push_back(rig.installed.path() / entry.path().filename());
    fs::create_directories(targets.back());

    CapturedLog log;
    rig.beingHelped = false;
    ASSERT_TRUE(rig.idleTimers.fireNext(60s));
    EXPECT_EQ(rig.feedUpdater->lastOutcomeKind(), FeedUpdater::Outcome::undoIncomplete)
        << rig.feedUpdater->lastOutcome();
    EXPECT_EQ(rig.relaunched, 0);
    EXPECT_FALSE(log.contains("Wickerlane: update not installed"));
    ASSERT_EQ(log.lines().size(), 2u) << "installing, then one line for the outcome";
    const std::string line = log.lines()[1];
    EXPECT_EQ(
        line.rfind("Wickerlane: update 0.2.0 is half installed: can't keep " + targets.back().string() + " aside", 0),
        0u)
        << line;
    for (std::size_t i = 0; i + 1 < targets.size(); ++i) {
        EXPECT_NE(line.find(targets[i].string() + " is the new version's and could not be removed"), std::string::npos)
            << line;
        EXPECT_TRUE(fs::exists(targets[i] / "inside"));
    }
    EXPECT_EQ(readFile(rig.installed.path() / "wickerlane"), "old program");
}

TEST(Updates, NothingNewerIsUpToDate)
{
    UpdateRig rig;
    ASSERT_TRUE(rig.server.listening());
    rig.server.route("/update.tar", {200, rig.newArchive, "application/x-tar", {}});
    rig.serveFeed(feedWith(rig.server.url("/update.tar"), "0.1.0", rig.key.sign(rig.newArchive.toStdString()), {}));
    rig.start();
    ASSERT_TRUE(rig.runUserCheck());
    EXPECT_EQ(rig.feedUpdater->lastOutcome(), "up to date");
    EXPECT_EQ(rig.server.requests("/update.tar"), 0);
    EXPECT_TRUE(rig.unchangedAndClean());
    ASSERT_EQ(rig.prompts.count(), 1u) << "a check the user asked for answers";
    EXPECT_EQ(rig.prompts.questions()[0].title, "You're up to date");
    EXPECT_EQ(rig.prompts.questions()[0].informativeText, "Wickerlane 0.1.0 is the newest version.");
}

TEST(Updates, AFailedCheckTheUserAskedForSaysWhy)
{
    UpdateRig rig;
    ASSERT_TRUE(rig.server.listening());
    rig.serveFeed("<rss><channel>");
    rig.start();
    ASSERT_TRUE(rig.runUserCheck());
    ASSERT_EQ(rig.prompts.count(), 1u);
    EXPECT_EQ(rig.prompts.questions()[0].title, "Wickerlane couldn't update");
    EXPECT_EQ(rig.prompts.questions()[0].informativeText, "The update was not installed: the feed does not parse.");
    EXPECT_TRUE(rig.unchangedAndClean());
}

// Without a usable feed address or key there is no updater at all.
TEST(Updates, NoUpdaterWithoutAFeedWithAHostAndAKey)
{
    for (const std::string feed : {"appcast.xml", "/updates/appcast.xml", "https://", "not a url at all"}) {
        UpdateRig rig;
        rig.start(feed);
        EXPECT_EQ(rig.updates->controller(), nullptr) << feed;
    }
    UpdateRig rig;
    Updates updates(
        [](const QUrl&, const std::string&) -> std::unique_ptr<Updater> {
            ADD_FAILURE() << "no updater without a key";
            return nullptr;
        },
        std::make_shared<MapInfoDictionary>(
            std::map<std::string, std::string>{{InfoKey::feedURL, "https://updates.example/appcast.xml"}}),
        rig.idleTimers.factory());
    updates.start();
    EXPECT_EQ(updates.controller(), nullptr);
}

// The idle rule alone, over an updater that hands over blocks when told.
class HandOverUpdater final : public Updater {
public:
    void start() override { ++started; }
    void checkForUpdates() override { ++userChecks; }
    int started = 0;
    int userChecks = 0;
};

TEST(Updates, ASecondReadyUpdateReplacesTheWaitingOne)
{
    ManualTimers timers;
    HandOverUpdater* updater = nullptr;
    Updates updates(
        [&](const QUrl& feed, const std::string& key) {
            EXPECT_EQ(feed.toString(), "https://updates.example/appcast.xml");
            EXPECT_EQ(key, "key");
            auto made = std::make_unique<HandOverUpdater>();
            updater = made.get();
            return made;
        },
        std::make_shared<MapInfoDictionary>(std::map<std::string, std::string>{
            {InfoKey::feedURL, "https://updates.example/appcast.xml"}, {InfoKey::publicEDKey, "key"}}),
        timers.factory());
    bool busy = true;
    updates.isIdle = [&] { return !busy; };
    updates.start();
    ASSERT_NE(updater, nullptr);
    EXPECT_EQ(updater->started, 1);
    updates.checkForUpdates();
    EXPECT_EQ(updater->userChecks, 1);

    std::vector<std::string> installed;
    ASSERT_TRUE(updater->willInstallUpdateOnQuit);
    EXPECT_TRUE(updater->willInstallUpdateOnQuit([&] { installed.push_back("first"); }));
    EXPECT_EQ(timers.activeCount(60s), 1u);
    EXPECT_TRUE(updater->willInstallUpdateOnQuit([&] { installed.push_back("second"); }));
    EXPECT_EQ(timers.activeCount(60s), 1u) << "the wait starts again, once";
    EXPECT_TRUE(installed.empty());
    busy = false;
    ASSERT_TRUE(timers.fireNext(60s));
    EXPECT_EQ(installed, (std::vector<std::string>{"second"}));
    EXPECT_EQ(timers.activeCount(), 0u);
    updates.installWhenIdle();
    EXPECT_EQ(installed.size(), 1u) << "nothing waits any more";
}

TEST(Updates, FeedsAndVersions)
{
    EXPECT_GT(FeedUpdater::compareVersions("1.10", "1.9"), 0);
    EXPECT_EQ(FeedUpdater::compareVersions("1.2", "1.2.0"), 0);
    EXPECT_LT(FeedUpdater::compareVersions("0.1.0", "0.2"), 0);
    auto items = FeedUpdater::parseFeed(feedWith("https://h/u.tar", "0.3.1", "c2ln", 42));
    ASSERT_TRUE(items);
    ASSERT_EQ(items->size(), 2u);
    EXPECT_EQ((*items)[1].version, "0.3.1") << "the version may come as an element of the item";
    EXPECT_EQ((*items)[1].url.toString(), "https://h/u.tar");
    EXPECT_EQ((*items)[1].signature, "c2ln");
    EXPECT_EQ((*items)[1].length, 42);
    EXPECT_FALSE(FeedUpdater::parseFeed("<html><body>not a feed</body></html>"));
    EXPECT_FALSE(FeedUpdater::parseFeed(""));
    auto key = SigningKey::generate();
    QByteArray data("archive bytes");
    EXPECT_TRUE(FeedUpdater::signatureHolds(data, key.sign(data.toStdString()), key.publicKeyBase64()));
    EXPECT_FALSE(FeedUpdater::signatureHolds(data + "!", key.sign(data.toStdString()), key.publicKeyBase64()));
    EXPECT_FALSE(FeedUpdater::signatureHolds(data, "not base64!", key.publicKeyBase64()));
    EXPECT_FALSE(FeedUpdater::signatureHolds(data, key.sign(data.toStdString()), "c2hvcnQ="));
}

} // namespace
} // namespace wl::test
