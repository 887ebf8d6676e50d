#pragma once
// The host's side of the signed handshake: every message of the relay link comes here.
// It keeps track of the helpers who connect (each on a channel of the relay link) until
// one proves who they are, checks the hello, sends the challenge, checks the proof, asks
// for consent or admits an unattended helper with their PIN, serves a picture fetch, and
// applies the signed offer. The attempt's transport lives here until the session ends.
//
// Main thread only (checked at its entry points); every callback it gets (relay link,
// transport, owner's consent, picture link, timers) runs there.

#include "host/HelperAttempt.h"
#include "platform/Defaults.h"
#include "platform/OneShotTimer.h"
#include "platform/Prompts.h"
#include "platform/SystemServices.h"
#include "protocol/ICEServer.h"
#include "protocol/SignalMessage.h"

#include <QObject>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace wl {

class AppServices;
class FileLinkPeer;
class HelpRequestCenter;
class DeviceIdentity;
class HostSession;
class PairedHelpers;
class Prompts;
class MediaEngine;
class RelayLink;
class SignalTransport;

class HostHandshake final : public QObject {
    Q_OBJECT
public:
    // Once a helper has proved who they are, the connection must stand within this time, a
    // consent question on screen aside; otherwise the attempt ends and the host is free again.
    static constexpr std::chrono::milliseconds kHandshakeTimeLimit{45000};
    // A challenged helper has this long to prove who they are: their person may be typing
    // a password and a PIN. Until then they hold nothing: others are challenged meanwhile.
    static constexpr std::chrono::milliseconds kProofTimeLimit{120000};
    // Connectors the host keeps track of before they prove who they are (the service binds
    // fewer); past this, the oldest is forgotten.
    static constexpr std::size_t kMaxConnectors = 64;

    // The path a signalling message left by.
    enum class Route { relayChannel, sessionTransport };

    // The question a helper's arrival asks: show me, take over or not now, with "Start with
    // my microphone on" unchecked.
    static AlertRequest consentAlert(const std::string& fullName);

    struct Parts {
        AppServices& services;
        RelayLink& relay;
        PairedHelpers& helpers;
        HostSession& session;
        HelpRequestCenter& helpRequests;
        MediaEngine& engine; // the picture link's
        std::shared_ptr<DeviceIdentity> identity; // the device this host proves to be
    };
    struct Options {
        TimerFactory timers; // its timers
        Prompts* prompts = nullptr; // the consent question (required)
        std::shared_ptr<Permissions> permissions = Permissions::none(); // whether the screen can be read
        std::shared_ptr<Defaults> defaults; // the picture link's settings (required)
    };

    HostHandshake(Parts parts, Options options, QObject* parent = nullptr);
    ~HostHandshake() override;

    void handleSignal(const SignalMessage& message);
    // The service's channels belong to the link they came on: all are forgotten with it.
    void relayClosed();
    // Lets the links of a helper's open challenges go, telling them why.
    void forgetChallenges(const std::string& helperId, SessionEnd reason);
    // Closes the attempt's picture link and transport, saying goodbye with the reason.
    void finish(SessionEnd reason);

    // The attempt in progress, from the helper's proof to the end of the session.
    const std::optional<HelperAttempt>& attempt() const { return attempt_; }
    // Whether an attempt holds this host (its transport stands).
    bool busy() const { return transport_ != nullptr; }
    // Whether the attempt's session or picture link has connected.
    bool connected() const;
    const std::vector<ICEServer>& relays() const { return relays_; }
    FileLinkPeer* filePeer() const { return filePeer_.get(); }
    bool askingConsent() const { return askingConsent_; }
    // The standing link to the introduction service that helpers' links come over.
    RelayLink& relay() const { return parts_.relay; }

    // Called with every signalling message sent, and its path.
    std::function<void(const SignalMessage&, Route)> onSignalSent;
    // The attempt asks to end (with the session, if one runs).
    std::function<void(SessionEnd)> onEnd;
    // A helper was turned away because screen recording is off.
    std::function<void()> onNoScreenRecording;

private:
    Prompts& prompts() const;
    TimerFactory timers() const { return options_.timers; }
    void handleHello(const SignalMessage& message);
    void handleProof(const SignalMessage& message);
    void handleOffer(const SignalMessage& message);
    void admitUnattended(const HelperAttempt& attempt, const std::optional<std::string>& pinProof);
    void askConsent(const std::string& fullName, const HelperAttempt& attempt);
    void sendRequestPictures(const std::vector<TransferredFile>& pictures, const HelperAttempt& attempt);
    void sendOnRelay(const SignalMessage& message, std::optional<std::uint64_t> channel);
    void sendOnSession(const SignalMessage& message);
    void decline(const std::string& reason, Route route, std::optional<std::uint64_t> channel = {});
    bool fromAttempt(std::uint64_t channel) const;
    void connectorLeft(std::uint64_t channel);
    void proofTimedOut(std::uint64_t channel, const std::string& hostNonce);
    void armHandshakeTimer();
    void handshakeTimeCheck();
    void end(SessionEnd reason);

    Parts parts_;
    Options options_;
    // A helper's link as the service binds it to the relay link (its channel), before the
    // helper has proved who they are.
    struct Connector {
        std::vector<ICEServer> relays;
        std::optional<HelperAttempt> challenged; // the hello passed; the challenge went out
        std::unique_ptr<OneShotTimer> expiry;
    };
    std::map<std::uint64_t, Connector> connectors_; // by channel (0: untagged), oldest first
    // The channel of the helper in the attempt; empty once that link has closed, so that
    // nothing from a later connector can reach the attempt.
    std::optional<std::uint64_t> attemptChannel_;
    std::shared_ptr<SignalTransport> transport_;
    std::optional<HelperAttempt> attempt_;
    std::vector<ICEServer> relays_;
    bool askingConsent_ = false;
    std::unique_ptr<FileLinkPeer> filePeer_;
    bool fileOfferApplied_ = false;
    std::unique_ptr<OneShotTimer> handshakeTimer_;
};

} // namespace wl
