#include "signalling/RouteDescription.h"

#include <api/stats/rtcstats_objects.h>

#include <cctype>

namespace wl {

namespace {

const webrtc::RTCIceCandidatePairStats* pairInUse(const webrtc::RTCStatsReport& report)
{
    for (const auto* transport : report.GetStatsOfType<webrtc::RTCTransportStats>()) {
        if (!transport->selected_candidate_pair_id.is_defined())
            continue;
        const webrtc::RTCStats* stats = report.Get(*transport->selected_candidate_pair_id);
        if (stats && stats->type() == webrtc::RTCIceCandidatePairStats::kType)
            return &stats->cast_to<webrtc::RTCIceCandidatePairStats>();
    }
    for (const auto* pair : report.GetStatsOfType<webrtc::RTCIceCandidatePairStats>()) {
        if (pair->nominated.is_defined() && *pair->nominated && pair->state.is_defined() && *pair->state == "succeeded")
            return pair;
    }
    return nullptr;
}

const webrtc::RTCIceCandidateStats* candidate(const webrtc::RTCStatsReport& report,
                                              const webrtc::RTCStatsMember<std::string>& id)
{
    if (!id.is_defined())
        return nullptr;
    const webrtc::RTCStats* stats = report.Get(*id);
    if (!stats)
        return nullptr;
    if (stats->type() == webrtc::RTCLocalIceCandidateStats::kType)
        return &stats->cast_to<webrtc::RTCLocalIceCandidateStats>();
    if (stats->type() == webrtc::RTCRemoteIceCandidateStats::kType)
        return &stats->cast_to<webrtc::RTCRemoteIceCandidateStats>();
    return nullptr;
}

bool isRelay(const webrtc::RTCIceCandidateStats* stats)
{
    return stats && stats->candidate_type.is_defined() && *stats->candidate_type == "relay";
}

std::string upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

std::optional<std::string> routeDescription(const webrtc::RTCStatsReport& report)
{
    const auto* pair = pairInUse(report);
    if (!pair)
        return std::nullopt;
    const auto* local = candidate(report, pair->local_candidate_id);
    const auto* remote = candidate(report, pair->remote_candidate_id);
    if (isRelay(local)) {
        std::string protocol = local->relay_protocol.is_defined() && !local->relay_protocol->empty()
            ? *local->relay_protocol
            : std::string("relay");
        return "Relayed (" + upper(protocol) + ")";
    }
    if (isRelay(remote))
        return std::string("Relayed (by the other Mac)");
    return std::string("Direct");
}

} // namespace wl
