// The host's video adaptation on made-up statistics: the link's classification, the
// target width, the divisor with its hysteresis, the frame-rate ceiling, the reading of
// a report and the log lines.
#include "host/VideoAdaptation.h"

#include <gtest/gtest.h>

#include <cmath>

namespace wl::test {
namespace {

using Size = std::pair<int, int>;

// Readings with a running total, so that each one adds the given packets, resends and
// full-picture requests.
class Readings {
public:
    StatsReading next(std::optional<double> bitrate, std::int64_t packets = 1000, std::int64_t nacks = 0,
                      std::int64_t plis = 0)
    {
        totals_.packets += packets;
        totals_.nacks += nacks;
        totals_.plis += plis;
        StatsReading reading;
        reading.availableBitrate = bitrate;
        reading.totals = totals_;
        return reading;
    }

private:
    StatsTotals totals_;
};

// A sender that records what was written to it.
struct RecordingSender {
    std::vector<double> scales;
    std::vector<int> frameRates;
    VideoAdaptation::Sender sender{[this](double scale) { scales.push_back(scale); },
                                   [this](int rate) { frameRates.push_back(rate); }};
};

bool contains(const std::vector<std::string>& lines, const std::string& text)
{
    for (const auto& line : lines)
        if (line.find(text) != std::string::npos)
            return true;
    return false;
}

TEST(VideoAdaptationRules, ClassificationTargetWidthAndFrameRateAsTables)
{
    struct Link {
        double share;
        std::int64_t plis;
        LinkQuality quality;
    };
    for (const Link& link : std::vector<Link>{{0, 0, LinkQuality::good},
                                              {0.0499, 1, LinkQuality::good},
                                              {0.05, 0, LinkQuality::strained},
                                              {0, 2, LinkQuality::strained},
                                              {0.1199, 2, LinkQuality::strained},
                                              {0.12, 0, LinkQuality::bad},
                                              {0, 3, LinkQuality::bad},
                                              {0.15, 0, LinkQuality::bad}})
        EXPECT_EQ(classifyLink(link.share, link.plis), link.quality) << link.share << " " << link.plis;

    struct Width {
        std::optional<double> bitrate;
        std::optional<int> bad, strained, good;
    };
    for (const Width& row : std::vector<Width>{{std::nullopt, 1280, 1920, std::nullopt},
                                               {6000000, 1280, 1920, 2560},
                                               {9000000, 1280, 1920, 2560},
                                               {5999999, 1280, 1920, 1920},
                                               {3000000, 1280, 1920, 1920},
                                               {2999999, 1280, 1280, 1280},
                                               {1500000, 1280, 1280, 1280},
                                               {1499999, 960, 960, 960},
                                               {100000, 960, 960, 960}}) {
        EXPECT_EQ(targetWidth(LinkQuality::bad, row.bitrate), row.bad);
        EXPECT_EQ(targetWidth(LinkQuality::strained, row.bitrate), row.strained);
        EXPECT_EQ(targetWidth(LinkQuality::good, row.bitrate), row.good);
    }
    EXPECT_EQ(proposedScale(1920, 1280), 1.5);
    EXPECT_EQ(proposedScale(1920, 960), 2.0);
    EXPECT_EQ(proposedScale(1920, 2560), 1.0) << "never enlarged";
    EXPECT_EQ(proposedScale(1920, std::nullopt), 1.0);

    // H.265 at 2 million bits per second counts as about 3.08 million.
    EXPECT_EQ(targetWidth(LinkQuality::good, 2000000 / 0.65), 1920);
    EXPECT_EQ(targetWidth(LinkQuality::bad, 2000000 / 0.65), 1280);

    // 4 million at 1920 x 1080, divisor 1, H.264: 2 million ÷ (1920 × 1080 × 0.07) ≈ 13.8.
    EXPECT_EQ(targetFrameRate(4000000, Size{1920, 1080}, 1.0, false), 13);
    EXPECT_EQ(targetFrameRate(300000, Size{1920, 1080}, 1.0, false), 12);
    EXPECT_EQ(targetFrameRate(4000000, Size{1920, 1080}, 1.0, true), 21);
    EXPECT_EQ(targetFrameRate(4000000, Size{1920, 1080}, 2.0, false), 55);
    EXPECT_EQ(targetFrameRate(16000000, Size{1920, 1080}, 1.0, false), 55);
    EXPECT_EQ(targetFrameRate(20000000, Size{1920, 1080}, 1.0, false), 60);
    EXPECT_EQ(targetFrameRate(std::nullopt, Size{1920, 1080}, 1.0, false), 60);
    EXPECT_EQ(targetFrameRate(4000000, std::nullopt, 1.0, false), 60);

    EXPECT_EQ(scaleText(1.0), "1.0");
    EXPECT_EQ(scaleText(1.5), "1.5");
    EXPECT_EQ(scaleText(2.0), "2.0");
    EXPECT_EQ(std::stod(scaleText(2560.0 / 960)), 2560.0 / 960) << "reads back exactly";
}

TEST(VideoAdaptationRules, TheDivisorFollowsTheLinkWithItsHysteresis)
{
    const Size capture{1920, 1080};
    RecordingSender recorded;

    // No bitrate known, 15 % resends: 1.5 proposed, applied on the second reading.
    {
        VideoAdaptation adaptation;
        Readings readings;
        auto log = adaptation.apply(readings.next(std::nullopt, 1000, 150), capture, &recorded.sender);
        EXPECT_EQ(adaptation.currentScale(), 1.0);
        EXPECT_EQ(adaptation.pendingScale(), 1.5);
        EXPECT_EQ(adaptation.pendingReadings(), 1);
        EXPECT_EQ(log.size(), 1u) << "only the statistics line";
        log = adaptation.apply(readings.next(std::nullopt, 1000, 150), capture, &recorded.sender);
        EXPECT_EQ(adaptation.currentScale(), 1.5);
        EXPECT_FALSE(adaptation.pendingScale());
        EXPECT_EQ(recorded.scales, std::vector<double>{1.5});
        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(log[0],
                  "Wickerlane: resolution scale 1.0 \u2192 1.5 (available ?, resends 150 per 1000 packets, "
                  "full-picture requests 0)");
        EXPECT_NE(log[1].find("resendShare=0.150 scale=1.5 maxFps=60"), std::string::npos) << log[1];
    }

    // 1.2 million: 960 wide, divisor 2.0 on the second reading. Above 6 million on a good
    // link it returns to 1.0 after four good readings.
    {
        recorded.scales.clear();
        VideoAdaptation adaptation;
        Readings readings;
        adaptation.apply(readings.next(1200000), capture, &recorded.sender);
        EXPECT_EQ(adaptation.currentScale(), 1.0);
        auto log = adaptation.apply(readings.next(1200000), capture, &recorded.sender);
        EXPECT_EQ(adaptation.currentScale(), 2.0);
        EXPECT_TRUE(contains(log,
                             "Wickerlane: resolution scale 1.0 \u2192 2.0 (available 1200 kbps, resends 0 per "
                             "1000 packets, full-picture requests 0)"));
        for (int i = 0; i < 3; ++i) {
            adaptation.apply(readings.next(7000000), capture, &recorded.sender);
            EXPECT_EQ(adaptation.currentScale(), 2.0) << "reading " << i + 1;
        }
        EXPECT_EQ(adaptation.pendingReadings(), 3);
        log = adaptation.apply(readings.next(7000000), capture, &recorded.sender);
        EXPECT_EQ(adaptation.currentScale(), 1.0);
        EXPECT_EQ(recorded.scales, (std::vector<double>{2.0, 1.0}));
        EXPECT_TRUE(contains(log, "Wickerlane: resolution scale 2.0 \u2192 1.0 (available 7000 kbps"));
    }

    // Proposals alternating between two values never apply; one equal to the divisor
    // in force clears a pending one.
    {
        recorded.scales.clear();
        VideoAdaptation adaptation;
        Readings readings;
        for (int i = 0; i < 6; ++i)
            adaptation.apply(readings.next(i % 2 ? 1200000 : 2000000), capture, &recorded.sender);
        EXPECT_EQ(adaptation.currentScale(), 1.0);
        EXPECT_EQ(adaptation.pendingReadings(), 1);
        adaptation.apply(readings.next(7000000), capture, &recorded.sender);
        EXPECT_FALSE(adaptation.pendingScale());
        EXPECT_EQ(adaptation.pendingReadings(), 0);
        EXPECT_TRUE(recorded.scales.empty());
    }

    // H.265 at 2 million: 1920 on a good link (divisor 1), 1280 on a bad one (1.5).
    {
        VideoAdaptation adaptation;
        EXPECT_TRUE(adaptation.noteCodec("video/H265"));
        Readings readings;
        adaptation.apply(readings.next(2000000), capture, &recorded.sender);
        EXPECT_FALSE(adaptation.pendingScale());
        adaptation.apply(readings.next(2000000, 1000, 0, 3), capture, &recorded.sender);
        EXPECT_EQ(adaptation.pendingScale(), 1.5);
        // Another codec turns it off; codec texts other than video are never noted.
        EXPECT_TRUE(adaptation.noteCodec("video/H264"));
        EXPECT_FALSE(adaptation.usingH265());
    }

    // Before the capture runs the divisor stays put; without a sender a due divisor
    // stays pending and is written once there is one.
    {
        recorded.scales.clear();
        VideoAdaptation adaptation;
        Readings readings;
        adaptation.apply(readings.next(1200000), std::nullopt, &recorded.sender);
        EXPECT_FALSE(adaptation.pendingScale());
        adaptation.apply(readings.next(1200000), capture, nullptr);
        adaptation.apply(readings.next(1200000), capture, nullptr);
        EXPECT_EQ(adaptation.currentScale(), 1.0);
        EXPECT_EQ(adaptation.pendingScale(), 2.0);
        EXPECT_EQ(adaptation.currentFrameRate(), 60) << "no sender: nothing written";
        adaptation.apply(readings.next(1200000), capture, &recorded.sender);
        EXPECT_EQ(adaptation.currentScale(), 2.0);
        EXPECT_EQ(recorded.scales, std::vector<double>{2.0});
    }
}

TEST(VideoAdaptationRules, TheCeilingAndTheBitrateInUse)
{
    const Size capture{1920, 1080};
    RecordingSender recorded;
    VideoAdaptation adaptation;
    Readings readings;

    // 60 and a target of 58 changes nothing; 57 is applied. The ceiling sees the
    // divisor in force (1.0 here: the first reading only proposes).
    // 58 fps at 1920 x 1080 × 0.07 needs 2 × 58 × 145152 bits = 16837632; 57: 16547328.
    adaptation.apply(readings.next(16837700), capture, &recorded.sender);
    EXPECT_EQ(adaptation.currentFrameRate(), 60);
    EXPECT_TRUE(recorded.frameRates.empty());
    auto log = adaptation.apply(readings.next(16547400), capture, &recorded.sender);
    EXPECT_EQ(adaptation.currentFrameRate(), 57);
    EXPECT_EQ(recorded.frameRates, std::vector<int>{57});
    EXPECT_TRUE(contains(log, "Wickerlane: frame rate ceiling 60 \u2192 57"));

    // A reading without a bitrate keeps using the last one.
    adaptation.apply(readings.next(std::nullopt), capture, &recorded.sender);
    EXPECT_EQ(adaptation.lastAvailableBitrate(), 16547400);
    EXPECT_EQ(adaptation.currentFrameRate(), 57);

    // A stream that disappears (packets going back) counts no resends.
    StatsReading fewer;
    fewer.availableBitrate = 16547400;
    fewer.totals = {5000, 10, 0};
    log = adaptation.apply(fewer, capture, &recorded.sender);
    EXPECT_NE(log.back().find("resendShare=0.000"), std::string::npos) << log.back();

    // 300000 bits per second: the floor of 12, and the divisor follows the bitrate.
    adaptation.apply(readings.next(300000), capture, &recorded.sender);
    EXPECT_EQ(adaptation.currentFrameRate(), 12);
}

TEST(VideoAdaptationRules, AReportIsReadIntoOneLine)
{
    StatsReport report = {
        {"C1", "codec", {{"mimeType", std::string("video/H265")}}},
        {"C2", "codec", {{"mimeType", std::string("audio/opus")}}},
        {"O1",
         "outbound-rtp",
         {{"codecId", std::string("C1")},
          {"framesEncoded", std::int64_t(90)},
          {"framesSent", std::int64_t(89)},
          {"bytesSent", std::int64_t(123456)},
          {"encoderImplementation", std::string("libx265")},
          {"qualityLimitationReason", std::string("none")},
          {"frameWidth", std::int64_t(1920)},
          {"frameHeight", std::int64_t(1080)},
          {"nackCount", std::int64_t(4)},
          {"packetsSent", std::int64_t(800)},
          {"pliCount", std::int64_t(1)},
          {"framesPerSecond", 30.0}}},
        {"O2", "outbound-rtp", {{"codecId", std::string("C2")}, {"packetsSent", std::int64_t(200)}}},
        {"O3", "outbound-rtp", {{"codecId", std::string("C9")}}},
        {"P1",
         "candidate-pair",
         {{"nominated", true},
          {"state", std::string("succeeded")},
          {"availableOutgoingBitrate", 2500000.9},
          {"currentRoundTripTime", 0.0123}}},
        {"P2", "candidate-pair", {{"nominated", false}, {"availableOutgoingBitrate", 9000000.0}}},
        {"P3", "candidate-pair", {{"nominated", true}, {"state", std::string("in-progress")}}},
        {"R1", "remote-inbound-rtp", {{"packetsLost", std::int64_t(2)}, {"fractionLost", 0.25}}},
    };
    StatsReading reading = readStats(report, 77, false, "video dir=1 track=true", std::string("direct udp"));
    EXPECT_EQ(reading.availableBitrate, 2500000.9);
    EXPECT_EQ(reading.totals, (StatsTotals{4, 1000, 1}));
    EXPECT_EQ(reading.videoCodecs, std::vector<std::string>{"video/H265"}) << "audio codecs are never passed on";
    EXPECT_EQ(reading.parts,
              (std::vector<std::string>{
                  "captured=77", "bits=8", "transceivers=[video dir=1 track=true]",
                  "outbound codec=video/H265 encoded=90 sent=89 bytes=123456 encoder=libx265 limit=none size=1920x1080",
                  "outbound codec=audio/opus encoded=- sent=- bytes=- encoder=- limit=- size=-x-",
                  "outbound codec=none encoded=- sent=- bytes=- encoder=- limit=- size=-x-",
                  "pair state=succeeded availKbps=2500 rttMs=12", "pair state=in-progress availKbps=- rttMs=-",
                  "fps=30 pli=1 nack=4", "fps=- pli=- nack=-", "fps=- pli=- nack=-", "lost=2 fractionLost=0.25",
                  "path=direct udp"}));

    // The line joins every part and ends with the adaptation's state.
    VideoAdaptation adaptation;
    auto log = adaptation.apply(reading, std::nullopt, nullptr);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind("Wickerlane stats: captured=77 | bits=8 | transceivers=[", 0), 0u);
    EXPECT_NE(log[0].find("| path=direct udp | resendShare=0.004 scale=1.0 maxFps=60"), std::string::npos) << log[0];

    // Without the expected keys: nothing counted, no bitrate, no route.
    reading = readStats({{"X", "candidate-pair", {{"nominated", true}, {"state", std::string("succeeded")}}}}, 0, true,
                        "", std::nullopt);
    EXPECT_FALSE(reading.availableBitrate);
    EXPECT_EQ(reading.parts[1], "bits=10");
    EXPECT_EQ(reading.parts.back(), "path=-");
}

} // namespace
} // namespace wl::test
