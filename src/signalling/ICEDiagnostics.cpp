#include "signalling/ICEDiagnostics.h"

#include "platform/Defaults.h"

#include <algorithm>
#include <sstream>

namespace wl {

namespace {

int countRelays(const std::vector<ICEServer>& relays)
{
    int count = 0;
    for (const auto& server : relays) {
        bool turn = std::any_of(server.urls.begin(), server.urls.end(),
                                [](const std::string& url) { return url.rfind("turn", 0) == 0; });
        if (turn)
            ++count;
    }
    return count;
}

// The word after "typ" in a candidate line; "unknown" when there is none.
std::string candidateType(const std::string& sdp)
{
    std::istringstream words(sdp);
    std::string word;
    while (words >> word) {
        if (word == "typ") {
            std::string type;
            if (words >> type)
                return type;
            break;
        }
    }
    return "unknown";
}

} // namespace

ICEDiagnostics::ICEDiagnostics(const std::vector<ICEServer>& relays, const Defaults& defaults)
    : ICEDiagnostics(relays, defaults.boolValue("WLForceRelay"))
{
}

ICEDiagnostics::ICEDiagnostics(const std::vector<ICEServer>& relays, bool forceRelay)
    : relayCount_(countRelays(relays)), forceRelay_(forceRelay)
{
}

void ICEDiagnostics::recordCandidate(const std::string& sdp, bool local)
{
    std::string type = candidateType(sdp);
    std::lock_guard guard(lock_);
    (local ? local_ : remote_)[type] += 1;
}

void ICEDiagnostics::recordError(const std::string& url, int code, const std::string& text)
{
    std::string entry = url + " \u2192 " + std::to_string(code) + " " + text;
    std::lock_guard guard(lock_);
    if (errors_.size() >= 3)
        return;
    if (std::find(errors_.begin(), errors_.end(), entry) != errors_.end())
        return;
    errors_.push_back(std::move(entry));
}

std::string ICEDiagnostics::describe(const std::map<std::string, int>& counts)
{
    static const char* const known[] = {"host", "srflx", "prflx", "relay"};
    std::string text;
    auto add = [&text](const std::string& type, int count) {
        if (!text.empty())
            text += ", ";
        text += type + " " + std::to_string(count);
    };
    for (const char* type : known) {
        auto it = counts.find(type);
        if (it != counts.end())
            add(it->first, it->second);
    }
    for (const auto& [type, count] : counts)
        if (std::find_if(std::begin(known), std::end(known), [&type = type](const char* k) { return type == k; }) ==
            std::end(known))
            add(type, count);
    return text.empty() ? "none" : text;
}

std::string ICEDiagnostics::summary() const
{
    std::lock_guard guard(lock_);
    std::string text = "Routes found here: " + describe(local_) + "\n";
    text += "Routes from the other Mac: " + describe(remote_) + "\n";
    text += "Relay servers received: " + std::to_string(relayCount_);
    if (forceRelay_)
        text += " (relay-only test mode)";
    text += "\nRelay errors: ";
    if (errors_.empty()) {
        text += "none";
    } else {
        for (std::size_t i = 0; i < errors_.size(); ++i) {
            if (i)
                text += "; ";
            text += errors_[i];
        }
    }
    return text;
}

} // namespace wl
