#pragma once
// The helpers paired with this machine: pairing a new one, unattended access with its
// PIN, removing one, replying to one, and telling each whether they have unattended
// access. The list is stored in the settings and outlives the process.

#include "platform/InfoDictionary.h"
#include "platform/OneShotTimer.h"
#include "platform/Prompts.h"
#include "platform/SystemServices.h"
#include "protocol/PairedDevice.h"
#include "protocol/PairedDeviceStore.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace wl {

class DeviceIdentity;
class Messenger;
class PairingHost;
class PairingPanelController;
class Prompts;
struct StoredMessage;

class PairedHelpers final : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kPairedHelpersKey = "WLPairedHelpers";
    static constexpr const char* kToldAccessKey = "WLToldHelpersAccess";
    static constexpr const char* kToldAccessAtKey = "WLToldHelpersAccessAt";
    static constexpr int kMaxWrongPINs = 5;

    struct Options {
        TimerFactory timers; // the pairing's timers (required)
        // The settings the paired helpers and what they were told are kept in (required).
        std::shared_ptr<Defaults> defaults;
        Prompts* prompts = nullptr; // the questions it asks (required)
        // Asked before unattended access is turned on.
        std::shared_ptr<AdminPrompt> adminPrompt = AdminPrompt::none();
        // Where the service's address comes from.
        std::shared_ptr<const InfoDictionary> info = std::make_shared<MapInfoDictionary>();
        // The device this host is: its key signs the pairing (required).
        std::shared_ptr<DeviceIdentity> identity;
    };

    PairedHelpers(Messenger& messenger, Options options, QObject* parent = nullptr);
    ~PairedHelpers() override;

    const std::vector<PairedDevice>& helpers() const { return helpers_; }
    std::optional<PairedDevice> find(const std::string& id) const;
    std::optional<PairedDevice> findByKey(const std::string& publicKey) const;
    // Stores a changed record of a helper already in the list.
    void update(const PairedDevice& helper);
    // The list with the My Macs roster taken in; nullopt when it would stay as it is.
    std::optional<std::vector<PairedDevice>> mergedWith(const std::vector<PairedDevice>& roster,
                                                        const std::set<std::string>& removed) const;
    // Stores a whole new list.
    void replaceAll(std::vector<PairedDevice> helpers);

    bool isPairing() const { return isPairing_; }
    void startPairing();
    void confirmPairing(const std::string& name, const std::string& publicKey, const std::string& number);
    void pairingFailed(const std::optional<std::string>& reason);
    PairingHost* pairing() const { return pairing_.get(); }
    PairingPanelController& pairingPanel() const { return *pairingPanel_; }

    // Administrator rights first: refused, nothing happens; when they can't be asked for at
    // all, an alert (cannotAskForAdminRightsAlert) says why. Then the PIN.
    void allowUnattendedAccess(const PairedDevice& helper);
    static AlertRequest cannotAskForAdminRightsAlert(const std::string& problem);
    void turnOffUnattendedAccess(const PairedDevice& helper);
    // The PIN, "" for no PIN, nullopt when the user cancelled.
    std::optional<std::string> askForUnattendedPIN(const std::string& name);
    void removeHelper(const PairedDevice& helper);
    void composeMessage(const StoredMessage& message);
    // Mails each helper whose unattended access changed (or was last told a week ago).
    void tellAboutAccess();

    // The first word of a name from another machine, as shown (shownName).
    static std::string firstWord(const std::string& name);

    // After a helper was removed here (their open attempts end).
    std::function<void(const std::string& helperId)> onRemoved;

Q_SIGNALS:
    void changed();

private:
    Prompts& prompts() const;
    std::optional<std::size_t> indexOf(const std::string& id) const;

    Messenger& messenger_;
    Options options_;
    PairedDeviceStore store_;
    std::vector<PairedDevice> helpers_;
    bool isPairing_ = false;
    std::unique_ptr<PairingHost> pairing_;
    std::unique_ptr<PairingPanelController> pairingPanel_;
    std::set<std::string> tellingAccess_;
};

} // namespace wl
