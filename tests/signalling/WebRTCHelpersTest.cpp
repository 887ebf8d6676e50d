#include "signalling/CandidateMessage.h"
#include "signalling/OpusStereo.h"
#include "signalling/RouteDescription.h"
#include "signalling/WebRTCConfiguration.h"

#include "platform/Defaults.h"

#include <api/stats/rtcstats_objects.h>

#include <gtest/gtest.h>

using namespace wl;

namespace {

class WithSettings : public ::testing::Test {
protected:
    std::shared_ptr<MemoryDefaults> defaults = std::make_shared<MemoryDefaults>();
};

using RTCConfiguration = WithSettings;

} // namespace

TEST_F(RTCConfiguration, DefaultSTUNThenOneEntryPerRelay)
{
    std::vector<ICEServer> relays = {
        ICEServer{{"turn:127.0.0.1:3478?transport=udp", "turn:127.0.0.1:3478?transport=tcp"}, "1700:ab", "secret"},
        ICEServer{{"stun:127.0.0.1:3478"}, "only-user", std::nullopt}, ICEServer{{}, std::nullopt, std::nullopt}};
    auto config = makeRTCConfiguration(*defaults, relays);
    EXPECT_EQ(config.sdp_semantics, webrtc::SdpSemantics::kUnifiedPlan);
    EXPECT_EQ(config.continual_gathering_policy, webrtc::PeerConnectionInterface::GATHER_CONTINUALLY);
    EXPECT_EQ(config.type, webrtc::PeerConnectionInterface::kAll);
    ASSERT_EQ(config.servers.size(), 3u);
    EXPECT_EQ(config.servers[0].urls,
              (std::vector<std::string>{"stun:stun.l.google.com:19302", "stun:stun1.l.google.com:19302"}));
    EXPECT_EQ(config.servers[1].urls, relays[0].urls);
    EXPECT_EQ(config.servers[1].username, "1700:ab");
    EXPECT_EQ(config.servers[1].password, "secret");
    EXPECT_EQ(config.servers[2].urls, relays[1].urls);
    EXPECT_EQ(config.servers[2].username, ""); // no credential: neither is set
    EXPECT_EQ(config.servers[2].password, "");
}

TEST_F(RTCConfiguration, TheSTUNSettingReplacesTheDefaultsAndForceRelayRestricts)
{
    defaults->setStringList("WLSTUNServers", {});
    defaults->setBool("WLForceRelay", true);
    auto config = makeRTCConfiguration(*defaults, {ICEServer{{"turn:127.0.0.1:3478"}, "u", "p"}});
    ASSERT_EQ(config.servers.size(), 1u);
    EXPECT_EQ(config.servers[0].urls, std::vector<std::string>{"turn:127.0.0.1:3478"});
    EXPECT_EQ(config.type, webrtc::PeerConnectionInterface::kRelay);
    EXPECT_TRUE(makeRTCConfiguration(*defaults, {}).servers.empty());

    defaults->setStringList("WLSTUNServers", {"stun:127.0.0.1:3478"});
    config = makeRTCConfiguration(*defaults, {});
    ASSERT_EQ(config.servers.size(), 1u);
    EXPECT_EQ(config.servers[0].urls, std::vector<std::string>{"stun:127.0.0.1:3478"});

    EXPECT_TRUE(defaultMediaConstraints().GetMandatory().empty());
    EXPECT_TRUE(defaultMediaConstraints().GetOptional().empty());
    EXPECT_EQ(&defaultMediaConstraints(), &defaultMediaConstraints());
}

TEST(CandidateMessage, CarriesTheCandidateAndNothingElse)
{
    webrtc::SdpParseError error;
    const std::string line = "candidate:842163049 1 udp 2122260223 127.0.0.1 51234 typ host generation 0";
    std::unique_ptr<webrtc::IceCandidateInterface> candidate(webrtc::CreateIceCandidate("1", 1, line, &error));
    ASSERT_TRUE(candidate) << error.description;
    SignalMessage message = candidateMessage(*candidate);
    EXPECT_EQ(message.kind, SignalMessage::Kind::candidate);
    ASSERT_TRUE(message.sdp);
    EXPECT_EQ(message.sdp->rfind("candidate:842163049 1 udp 2122260223 127.0.0.1 51234 typ host", 0), 0u);
    EXPECT_EQ(message.sdpMLineIndex, 1);
    EXPECT_EQ(message.sdpMid, "1");
    SignalMessage expected = SignalMessage::make(SignalMessage::Kind::candidate);
    expected.sdp = message.sdp;
    expected.sdpMLineIndex = 1;
    expected.sdpMid = "1";
    EXPECT_EQ(message, expected);
}

TEST(PreferOpusStereo, SetsTheFourParametersOnTheOpusLineOnly)
{
    const std::string sdp = "v=0\r\n"
                            "m=audio 9 UDP/TLS/RTP/SAVPF 111 63 0\r\n"
                            "a=rtpmap:111 opus/48000/2\r\n"
                            "a=rtcp-fb:111 transport-cc\r\n"
                            "a=fmtp:111 minptime=10;useinbandfec=0\r\n"
                            "a=rtpmap:63 red/48000/2\r\n"
                            "a=fmtp:63 111/111\r\n"
                            "a=rtpmap:0 PCMU/8000\r\n";
    const std::string expected = "v=0\r\n"
                                 "m=audio 9 UDP/TLS/RTP/SAVPF 111 63 0\r\n"
                                 "a=rtpmap:111 opus/48000/2\r\n"
                                 "a=rtcp-fb:111 transport-cc\r\n"
                                 "a=fmtp:111 minptime=10;useinbandfec=1;stereo=1;sprop-stereo=1;"
                                 "maxaveragebitrate=128000\r\n"
                                 "a=rtpmap:63 red/48000/2\r\n"
                                 "a=fmtp:63 111/111\r\n"
                                 "a=rtpmap:0 PCMU/8000\r\n";
    EXPECT_EQ(preferOpusStereo(sdp), expected);
    EXPECT_EQ(preferOpusStereo(expected), expected); // idempotent

    // No opus: unchanged. Opus without a format line: one is added after its map.
    const std::string video = "v=0\nm=video 9 UDP/TLS/RTP/SAVPF 96\na=rtpmap:96 H265/90000\n";
    EXPECT_EQ(preferOpusStereo(video), video);
    EXPECT_EQ(preferOpusStereo("m=audio 9 RTP/AVP 109\na=rtpmap:109 OPUS/48000/2\na=ptime:20\n"),
              "m=audio 9 RTP/AVP 109\na=rtpmap:109 OPUS/48000/2\n"
              "a=fmtp:109 stereo=1;sprop-stereo=1;maxaveragebitrate=128000;useinbandfec=1\na=ptime:20\n");
    EXPECT_EQ(preferOpusStereo(""), "");
}

TEST(SoundOutOfStream, OnlyTheAudioSectionsTracksLeaveTheirStream)
{
    const std::string answer = "v=0\r\n"
                               "a=msid-semantic: WMS screen\r\n"
                               "m=video 9 UDP/TLS/RTP/SAVPF 96\r\n"
                               "a=msid:screen screen0\r\n"
                               "a=ssrc:11 msid:screen screen0\r\n"
                               "m=audio 9 UDP/TLS/RTP/SAVPF 111\r\n"
                               "a=msid:screen sound0\r\n"
                               "a=ssrc:12 cname:x\r\n"
                               "a=ssrc:12 msid:screen sound0\r\n"
                               "m=application 9 UDP/DTLS/SCTP webrtc-datachannel\r\n";
    const std::string expected = "v=0\r\n"
                                 "a=msid-semantic: WMS screen\r\n"
                                 "m=video 9 UDP/TLS/RTP/SAVPF 96\r\n"
                                 "a=msid:screen screen0\r\n"
                                 "a=ssrc:11 msid:screen screen0\r\n"
                                 "m=audio 9 UDP/TLS/RTP/SAVPF 111\r\n"
                                 "a=msid:- sound0\r\n"
                                 "a=ssrc:12 cname:x\r\n"
                                 "a=ssrc:12 msid:- sound0\r\n"
                                 "m=application 9 UDP/DTLS/SCTP webrtc-datachannel\r\n";
    EXPECT_EQ(soundOutOfStream(answer), expected);
    EXPECT_EQ(soundOutOfStream(expected), expected);
    // A stream without a track id, plain line ends, no audio at all.
    EXPECT_EQ(soundOutOfStream("m=audio 9 RTP/AVP 0\na=msid:screen\n"), "m=audio 9 RTP/AVP 0\na=msid:-\n");
    EXPECT_EQ(soundOutOfStream("m=video 9 RTP/AVP 96\na=msid:screen screen0"),
              "m=video 9 RTP/AVP 96\na=msid:screen screen0");
    EXPECT_EQ(soundOutOfStream(""), "");
}

namespace {

struct ReportBuilder {
    rtc::scoped_refptr<webrtc::RTCStatsReport> report = webrtc::RTCStatsReport::Create(webrtc::Timestamp::Micros(1));

    void candidate(const std::string& id, bool local, const std::string& type,
                   std::optional<std::string> relayProtocol = std::nullopt)
    {
        std::unique_ptr<webrtc::RTCIceCandidateStats> stats;
        if (local)
            stats = std::make_unique<webrtc::RTCLocalIceCandidateStats>(id, 1);
        else
            stats = std::make_unique<webrtc::RTCRemoteIceCandidateStats>(id, 1);
        stats->candidate_type = type;
        if (relayProtocol)
            stats->relay_protocol = *relayProtocol;
        report->AddStats(std::move(stats));
    }
    void pair(const std::string& id, const std::string& local, const std::string& remote, bool nominated,
              const std::string& state)
    {
        auto stats = std::make_unique<webrtc::RTCIceCandidatePairStats>(id, 1);
        stats->local_candidate_id = local;
        stats->remote_candidate_id = remote;
        stats->nominated = nominated;
        stats->state = state;
        report->AddStats(std::move(stats));
    }
    void transport(const std::optional<std::string>& selectedPair)
    {
        auto stats = std::make_unique<webrtc::RTCTransportStats>("T01", 1);
        if (selectedPair)
            stats->selected_candidate_pair_id = *selectedPair;
        report->AddStats(std::move(stats));
    }
};

} // namespace

TEST(RouteDescription, FollowsTheSelectedPair)
{
    ReportBuilder r;
    r.candidate("L-host", true, "host");
    r.candidate("L-relay", true, "relay", "udp");
    r.candidate("R-host", false, "host");
    r.candidate("R-relay", false, "relay");
    r.pair("P-direct", "L-host", "R-host", true, "succeeded");
    r.pair("P-relayed", "L-relay", "R-host", false, "succeeded");
    r.pair("P-theirs", "L-host", "R-relay", false, "succeeded");
    r.transport(std::string("P-relayed"));
    EXPECT_EQ(routeDescription(*r.report), "Relayed (UDP)");

    ReportBuilder theirs;
    theirs.candidate("L", true, "srflx");
    theirs.candidate("R", false, "relay");
    theirs.pair("P", "L", "R", true, "succeeded");
    theirs.transport(std::string("P"));
    EXPECT_EQ(routeDescription(*theirs.report), "Relayed (by the other Mac)");

    ReportBuilder noProtocol;
    noProtocol.candidate("L", true, "relay");
    noProtocol.candidate("R", false, "relay");
    noProtocol.pair("P", "L", "R", true, "succeeded");
    noProtocol.transport(std::string("P"));
    EXPECT_EQ(routeDescription(*noProtocol.report), "Relayed (RELAY)");
}

TEST(RouteDescription, FallsBackToANominatedSucceededPair)
{
    ReportBuilder r;
    r.candidate("L", true, "host");
    r.candidate("R", false, "prflx");
    r.pair("P-checking", "L", "R", true, "in-progress");
    r.transport(std::nullopt);
    EXPECT_EQ(routeDescription(*r.report), std::nullopt);

    r.pair("P-ok", "L", "R", true, "succeeded");
    EXPECT_EQ(routeDescription(*r.report), "Direct");

    ReportBuilder nothing;
    EXPECT_EQ(routeDescription(*nothing.report), std::nullopt);

    // A selected pair id naming nothing falls back too.
    ReportBuilder dangling;
    dangling.transport(std::string("P-gone"));
    EXPECT_EQ(routeDescription(*dangling.report), std::nullopt);
}
