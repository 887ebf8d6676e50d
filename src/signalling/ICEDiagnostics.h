#pragma once
// Counts of the ICE candidates found on each side and the first relay errors of a
// session, for the log and the connection-lost text. Every operation may be called
// from any thread.

#include "protocol/ICEServer.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace wl {

class Defaults;

class ICEDiagnostics {
public:
    // Reads WLForceRelay from the settings (on the caller's thread).
    ICEDiagnostics(const std::vector<ICEServer>& relays, const Defaults& defaults);
    ICEDiagnostics(const std::vector<ICEServer>& relays, bool forceRelay);

    // sdp: the candidate line ("candidate:… typ host …"); counted by its type word.
    void recordCandidate(const std::string& sdp, bool local);
    // Keeps "url → code text", at most 3 different ones.
    void recordError(const std::string& url, int code, const std::string& text);

    // Four lines:
    //   Routes found here: <counts>
    //   Routes from the other Mac: <counts>
    //   Relay servers received: <n>[ (relay-only test mode)]
    //   Relay errors: <errors joined by "; ">
    // counts are "host 2, srflx 1, relay 1" (host, srflx, prflx, relay first, others
    // after in name order) or "none"; no errors gives "none".
    std::string summary() const;

    int relayServerCount() const { return relayCount_; }
    bool forceRelay() const { return forceRelay_; }

private:
    static std::string describe(const std::map<std::string, int>& counts);

    const int relayCount_;
    const bool forceRelay_;
    mutable std::mutex lock_;
    std::map<std::string, int> local_;
    std::map<std::string, int> remote_;
    std::vector<std::string> errors_;
};

} // namespace wl
