// The service under abuse from one address: links that never read, floods of connections
// that never speak, relays parked on readers that stop. Memory and descriptors stay bounded
// and other clients keep being served. Every loop is bounded in count and time.

#include "RawSocket.h"
#include "ServiceTestKit.h"

#include <sys/resource.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

namespace wl::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// One GET over a new connection from `source`; the status (0 when nothing answered).
int statusFrom(std::uint16_t port, const char* source, const std::string& target)
{
    RawSocket socket(port, RawSocket::Options{0, source, true});
    if (!socket.connected())
        return 0;
    socket.write("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    auto answer = socket.readUntil("\r\n\r\n");
    if (answer.rfind("HTTP/1.1 ", 0) != 0 || answer.size() < 12)
        return 0;
    return std::atoi(answer.substr(9, 3).c_str());
}

// Another client, on another address, asking for a status every `period` while the attack
// runs: how long its slowest answer took, and whether any failed.
class Prober {
public:
    Prober(std::uint16_t port, milliseconds period)
    {
        thread_ = std::thread([this, port, period] {
            const std::string target = "/v1/status/" + std::string(64, '0');
            for (int i = 0; i < 10000 && !stop_; ++i) {
                auto started = Clock::now();
                int status = statusFrom(port, "127.0.0.2", target);
                auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - started);
                ++count_;
                if (status != 200)
                    ++failures_;
                slowest_ = std::max<long>(slowest_, took.count());
                {
                    std::lock_guard guard(lock_);
                    times_.push_back(took.count());
                }
                std::this_thread::sleep_until(started + period);
            }
        });
    }
    ~Prober() { finish(); }
    void finish()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    long slowestMs() const { return slowest_; }
    int failures() const { return failures_; }
    int count() const { return count_; }
    // "median / 99th percentile / slowest" in milliseconds.
    std::string summary()
    {
        std::lock_guard guard(lock_);
        if (times_.empty())
            return "no answers";
        auto sorted = times_;
        std::sort(sorted.begin(), sorted.end());
        return std::to_string(sorted[sorted.size() / 2]) + " / " + std::to_string(sorted[sorted.size() * 99 / 100]) +
            " / " + std::to_string(sorted.back()) + " ms";
    }

private:
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<long> slowest_{0};
    std::atomic<int> failures_{0};
    std::atomic<int> count_{0};
    std::mutex lock_;
    std::vector<long> times_;
};

// The service's resident memory, sampled as the test goes.
struct MemoryWatch {
    pid_t pid;
    long baselineKiB = processMemoryKiB(pid, "VmRSS");
    long highestKiB = baselineKiB;
    void sample() { highestKiB = std::max(highestKiB, processMemoryKiB(pid, "VmRSS")); }
    long highestMiB() const { return highestKiB / 1024; }
    long growthMiB() const { return (highestKiB - baselineKiB) / 1024; }
};

// Sanitizer builds run several times slower: widen bounds of time there.
milliseconds scaled(milliseconds bound)
{
    return underSanitizer() ? bound * 10 : bound;
}

using Abuse = ServiceTest;

TEST_F(Abuse, MailboxLinksOntoAFullMailboxThatNeverReadStayWithinMemory)
{
    startService();
    TestDevice recipient;
    ASSERT_TRUE(publishKeys(recipient));

    // A full mailbox: 500 envelopes of nearly 64 KiB, from ten senders (each within its
    // 60 a minute).
    std::set<std::string> posted;
    std::vector<TestDevice> senders(10);
    const std::string text(47000, 'm');
    for (auto& sender : senders) {
        ASSERT_TRUE(publishKeys(sender));
        for (int i = 0; i < 50; ++i) {
            auto envelope = sealFor(sender, recipient, text);
            ASSERT_LE(envelope.size(), 65536u);
            ASSERT_GT(envelope.size(), 60000u);
            ASSERT_EQ(http("POST", "/v1/mail/" + recipient.id, envelope), 202);
            posted.insert(nlohmann::json::parse(envelope)["id"].get<std::string>());
        }
    }
    ASSERT_EQ(http("POST", "/v1/mail/" + recipient.id, sealFor(senders[0], recipient)), 429) << "not full";

    MemoryWatch memory{service->pid()};
    Prober prober(port(), milliseconds(50));
    // 200 mailbox links within 20 s from one client, each reading its upgrade answer and
    // then nothing: their receive windows are tiny and stay full.
    std::vector<std::unique_ptr<RawSocket>> links;
    auto attackStart = Clock::now();
    for (int i = 0; i < 200 && Clock::now() - attackStart < std::chrono::seconds(20); ++i) {
        auto started = Clock::now();
        links.push_back(std::make_unique<RawSocket>(port(), RawSocket::Options{4096}));
        ASSERT_TRUE(links.back()->connected());
        ASSERT_TRUE(links.back()->upgrade(recipient.mailboxTarget())) << i;
        memory.sample();
        std::this_thread::sleep_until(started + milliseconds(50));
    }
    EXPECT_EQ(links.size(), 200u);
    // The links that were replaced let go of their queues; the last one keeps its window.
    for (int i = 0; i < 40; ++i) {
        memory.sample();
        std::this_thread::sleep_for(milliseconds(50));
    }
    prober.finish();
    std::cerr << "mailbox flood: service memory " << memory.baselineKiB / 1024 << " MiB before, at most "
              << memory.highestMiB() << " MiB; other client's answers (median / p99 / slowest) " << prober.summary()
              << " over " << prober.count() << " requests\n";
    if (!underSanitizer()) {
        EXPECT_LT(memory.highestMiB(), 256);
        EXPECT_LT(processMemoryKiB(service->pid(), "VmHWM") / 1024, 256);
    }
    EXPECT_EQ(prober.failures(), 0);
    EXPECT_GT(prober.count(), 100);
    // A service held up by the flood keeps its other clients waiting for seconds; a busy
    // test machine alone delays an answer by tens of milliseconds now and then.
    EXPECT_LT(prober.slowestMs(), scaled(milliseconds(1000)).count());

    // A client that reads gets every envelope once, in the order they were posted, and
    // acknowledges each as it goes.
    WsTestClient reader;
    ASSERT_TRUE(reader.open(port(), recipient.mailboxTarget()));
    std::set<std::string> received;
    for (std::size_t i = 0; i < posted.size(); ++i) {
        auto frame = reader.receive();
        ASSERT_TRUE(frame) << "after " << i << " envelopes";
        auto id = nlohmann::json::parse(*frame)["id"].get<std::string>();
        EXPECT_TRUE(received.insert(id).second) << "twice: " << id;
        reader.send("{\"ack\":\"" + id + "\"}");
    }
    EXPECT_EQ(received, posted);
    EXPECT_TRUE(reader.quietFor(milliseconds(300)));
    links.clear();
    // Everything was acknowledged: the next link finds the mailbox empty.
    reader.close();
    WsTestClient again;
    ASSERT_TRUE(again.open(port(), recipient.mailboxTarget()));
    EXPECT_TRUE(again.quietFor(milliseconds(300)));
    expectServiceWorks();
}

TEST_F(Abuse, SilentConnectionsFromOneAddressDoNotStarveOthers)
{
    // The default limits, as a service on the internet runs.
    startService({"--connection-rate", "60", "--request-rate", "1200", "--connections-per-address", "256"});
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    // As many as this process may hold at once (the oldest make room for the newest).
    const std::size_t held = std::min<std::size_t>(20000, static_cast<std::size_t>(limit.rlim_cur) - 300);

    // The other client opens a new connection for each request, within its own rate.
    Prober prober(port(), milliseconds(250));
    std::deque<std::unique_ptr<RawSocket>> silent;
    int opened = 0, mostSockets = 0;
    auto started = Clock::now();
    for (int i = 0; i < 20000 && Clock::now() - started < std::chrono::seconds(30); ++i) {
        if (silent.size() >= held)
            silent.pop_front();
        silent.push_back(std::make_unique<RawSocket>(port(), RawSocket::Options{0, nullptr, false}));
        if (silent.back()->connected())
            ++opened;
        if (i % 500 == 0) {
            mostSockets = std::max(mostSockets, socketCount(service->pid()));
            // Keep the other client's requests interleaved with the flood.
            std::this_thread::sleep_for(milliseconds(5));
        }
    }
    // The silent ones the service let in wait for their first byte only a few seconds.
    for (int i = 0; i < 40; ++i) {
        mostSockets = std::max(mostSockets, socketCount(service->pid()));
        std::this_thread::sleep_for(milliseconds(100));
    }
    prober.finish();
    std::cerr << "silent flood: " << opened << " connections opened, the service held at most " << mostSockets
              << " sockets; other client's answers (median / p99 / slowest) " << prober.summary() << " over "
              << prober.count() << " requests\n";
    EXPECT_GT(opened, 15000);
    EXPECT_LE(mostSockets, 256 + 16);
    EXPECT_EQ(prober.failures(), 0);
    EXPECT_LT(prober.slowestMs(), scaled(milliseconds(1000)).count());
    EXPECT_TRUE(waitForLog("over the connection rate limit"));
    silent.clear();
    // The flood's own address is refused until its rate refills; another address is served.
    EXPECT_EQ(statusFrom(port(), "127.0.0.2", "/v1/status/" + std::string(64, '0')), 200);
}

// A pairing code made of the pairing alphabet from a number.
std::string pairingCode(int n)
{
    static const char* alphabet = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";
    std::string code = "AB";
    for (int i = 0; i < 6; ++i, n /= 32)
        code.push_back(alphabet[n % 32]);
    return code;
}

TEST_F(Abuse, PairingAndRelayHostsThatNeverReadParkLittle)
{
    // The hosts here never send: they must not be closed as idle first, however slow the run.
    startService({"--idle-timeout", "600"});
    MemoryWatch memory{service->pid()};
    // Twenty pairing hosts and twenty relay hosts that never read, each with a partner that
    // sends as much as it can (at most 48 MiB).
    struct Pair {
        std::unique_ptr<RawSocket> host;
        std::unique_ptr<WsTestClient> sender;
        int sent = 0;
    };
    std::vector<Pair> pairs;
    std::vector<TestDevice> devices(20);
    for (int i = 0; i < 40; ++i) {
        Pair pair{std::make_unique<RawSocket>(port(), RawSocket::Options{4096}), std::make_unique<WsTestClient>()};
        if (i < 20) {
            ASSERT_TRUE(pair.host->upgrade("/v1/pair/host/" + pairingCode(i)));
            ASSERT_TRUE(pair.sender->open(port(), "/v1/pair/join/" + pairingCode(i)));
        } else {
            ASSERT_TRUE(pair.host->upgrade(devices[static_cast<std::size_t>(i - 20)].hostTarget()));
            ASSERT_TRUE(pair.sender->open(port(), "/v1/connect/" + devices[static_cast<std::size_t>(i - 20)].id));
            ASSERT_EQ(kindOf(pair.sender->receive()), "iceServers");
        }
        pairs.push_back(std::move(pair));
    }
    const std::string filler = signal("filler", "\"pad\":\"" + std::string(60000, 'x') + "\"");
    // Every sender is kept going at once, a message whenever its last one is written, until the
    // service has closed them all: a sender that waited on its own stuck write, or on another's
    // close, would leave the others unserved, and the service's close of a parked relay
    // unanswered until it gave up on the close handshake and reset the link (no close code).
    // Under a sanitizer the service takes a good while to get through what they send.
    const auto deadline = Clock::now() + scaled(std::chrono::seconds(30));
    for (int round = 0; round < 1000000 && Clock::now() < deadline; ++round) {
        bool anyOpen = false;
        for (auto& pair : pairs) {
            pair.sender->poll();
            if (pair.sender->isClosed())
                continue;
            anyOpen = true;
            if (!pair.sender->sending() && pair.sent < 800) {
                pair.sender->post(filler);
                ++pair.sent;
            }
        }
        if (round % 100 == 0)
            memory.sample();
        if (!anyOpen)
            break;
        std::this_thread::sleep_for(milliseconds(1));
    }
    // Each parked pairing ended with its host link dropped, the sender told the other side
    // left; each helper bound to a host that does not read was closed once its share of the
    // host's link was full.
    for (std::size_t i = 0; i < pairs.size(); ++i)
        EXPECT_EQ(pairs[i].sender->closeCode(), i < 20 ? 4410 : 4429) << "pair " << i;
    memory.sample();
    std::cerr << "parked relays: service memory " << memory.baselineKiB / 1024 << " MiB before, at most "
              << memory.highestMiB() << " MiB\n";
    if (!underSanitizer()) {
        EXPECT_LT(memory.growthMiB(), 64) << "the default send budget";
    }
    EXPECT_TRUE(waitForLog("dropped: the peer does not read"));
    pairs.clear();
    expectServiceWorks();
}

} // namespace
} // namespace wl::test
