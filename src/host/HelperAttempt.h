#pragma once
// A helper's attempt to connect as the host sees it, and how a session ends.

#include "mail/TransferredFile.h"
#include "protocol/PairedDevice.h"

#include <optional>
#include <string>
#include <vector>

namespace wl {

class DeviceIdentity;

// The handshake or session in progress.
struct HelperAttempt {
    PairedDevice helper;
    std::string helperNonce;
    std::string hostNonce;
    bool unattended = false;
    std::optional<std::vector<TransferredFile>> attachments; // a picture fetch
};

// How a session ends; the wire word travels in `bye` and in the goodbye event.
enum class SessionEnd { stopped = 0, helperLeft = 1, connectionLost = 2, accessRemoved = 3 };
std::string wireWord(SessionEnd reason);

// This machine's signature of its answer in the attempt.
std::optional<std::string> signAnswer(const std::string& sdp, const HelperAttempt& attempt, DeviceIdentity& identity);

} // namespace wl
