#pragma once
// The hosts this machine helps: the paired list with its groups and presence, the
// hosts to announce when they come online, the ones known to admit it unattended, and
// pairing a new host.

#include "platform/OneShotTimer.h"
#include "protocol/PairedDevice.h"
#include "platform/InfoDictionary.h"
#include "protocol/PairedDeviceStore.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace wl {

class DeviceIdentity;
class MyMacs;
class Notifier;
class PairingClient;
class Prompts;
struct MailContent;

class PairedHosts final : public QObject {
    Q_OBJECT
public:
    // Pairing a new host.
    struct PairingState {
        enum class Kind { verify, paired, failed, idle, connecting };
        Kind kind = Kind::idle;
        std::string hostName; // verify: the name shown
        std::string number; // verify: the comparison number
        std::string text; // paired: the stored name; failed: the message

        bool operator==(const PairingState&) const = default;
    };

    struct Options {
        TimerFactory timers; // the presence timer
        // The settings the paired hosts and their flags are kept in (required).
        std::shared_ptr<Defaults> defaults;
        // Where the service's address comes from (presence, pairing).
        std::shared_ptr<const InfoDictionary> info = std::make_shared<MapInfoDictionary>();
        Prompts* prompts = nullptr; // required
        Notifier* notifier = nullptr; // required
        // The presence question (the introduction service when empty).
        std::function<void(const std::string& deviceId, std::function<void(bool)> answer)> isOnline;
        // The device this helper is: its key signs the pairing (required).
        std::shared_ptr<DeviceIdentity> identity;
    };

    static constexpr const char* kPairedHostsKey = "WLPairedHosts";
    static constexpr const char* kKnownUnattendedKey = "WLKnownUnattended";
    static constexpr const char* kNotifyWhenOnlineKey = "WLNotifyWhenOnline";
    static constexpr std::chrono::milliseconds kPresenceInterval{10000};

    PairedHosts(MyMacs& myMacs, Options options, QObject* parent = nullptr);
    ~PairedHosts() override;

    const std::vector<PairedDevice>& devices() const { return devices_; }
    std::optional<PairedDevice> find(const std::string& id) const;
    const std::set<std::string>& onlineIDs() const { return onlineIDs_; }
    const std::set<std::string>& knownUnattended() const { return knownUnattended_; }
    const std::set<std::string>& notifyWhenOnline() const { return notifyWhenOnline_; }
    void setKnownUnattended(std::set<std::string> ids);
    void setNotifyWhenOnline(std::set<std::string> ids);

    // The hosts by group: My Macs first, then by person (or name), each sorted by name.
    std::vector<std::pair<std::string, std::vector<PairedDevice>>> groupDevices() const;
    // Asks for every host's presence now and then every kPresenceInterval.
    void watchPresence();
    void refreshStatus();
    void setOnline(bool online, const PairedDevice& device);
    void removeDevice(const PairedDevice& device);
    void setPerson(const PairedDevice& device);
    void removeFromMyMacs(const PairedDevice& device);
    void toggleNotifyWhenOnline(const PairedDevice& device);
    void handleAccessNotice(const MailContent& content, const PairedDevice& sender);
    void myMacsRosterChanged(const std::vector<PairedDevice>& roster, const std::vector<std::string>& removedIds);

    const PairingState& pairingState() const { return pairingState_; }
    bool pair(const std::string& code, const std::string& name);
    void cancelPairing();
    PairingClient* pairing() const { return pairing_.get(); }

Q_SIGNALS:
    void changed();

private:
    Prompts& prompts() const;
    Notifier& notifier() const;
    TimerFactory timers() const { return options_.timers; }
    void saveDevices();
    void pairingVerify(const std::string& typedName, const std::string& hostName, const std::string& number);
    void pairingSucceeded(const std::string& typedName, PairedDevice device);
    void pairingFailed(const std::string& message);

    MyMacs& myMacs_;
    Options options_;
    PairedDeviceStore deviceStore_;
    std::vector<PairedDevice> devices_;
    std::set<std::string> onlineIDs_;
    std::set<std::string> knownUnattended_;
    std::set<std::string> notifyWhenOnline_;
    PairingState pairingState_;
    std::unique_ptr<PairingClient> pairing_;
    std::unique_ptr<OneShotTimer> statusTimer_;
};

// The settings' set of ids under a key, and storing one.
std::set<std::string> readIdSet(const Defaults& defaults, const char* key);
void saveIdSet(Defaults& defaults, const char* key, const std::set<std::string>& ids);

} // namespace wl
