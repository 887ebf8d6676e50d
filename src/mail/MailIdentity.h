#pragma once
// What the mail objects need of this installation: its keys, its name and its settings.
// of() reads them from the installation's identity and settings; a test that runs two
// installations in one process gives each its own.

#include "identity/Keys.h"
#include "platform/Defaults.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace wl {

class DeviceIdentity;

struct MailIdentity {
    std::function<std::optional<SigningKey>()> deviceKey;
    std::function<std::optional<AgreementKey>()> mailKey;
    std::function<std::optional<SigningKey>()> personKey;
    // Replaces the person key (adopting a roster); false when it cannot be stored.
    std::function<bool(const SigningKey&)> storePersonKey;
    // This computer's name as other Macs see it in a roster.
    std::function<std::string()> deviceName;
    // The settings to keep history, seen ids, roster and sets in (required: start-up
    // hands in the platform's; empty when of() or inMemory() were given none).
    std::function<Defaults&()> defaults;

    // The device id, "" when the device key cannot be read.
    std::string deviceId() const;

    // The installation's keys, its settings and the name it goes by.
    static MailIdentity of(std::shared_ptr<DeviceIdentity> identity, std::shared_ptr<Defaults> defaults,
                           std::string name);
    // This computer's host name ("Computer" when it has none).
    static std::string computerName();
    // Keys held in memory (made fresh unless given), settings in the given store.
    static MailIdentity inMemory(std::shared_ptr<Defaults> defaults, std::string name,
                                 std::optional<SigningKey> device = std::nullopt,
                                 std::optional<AgreementKey> mail = std::nullopt,
                                 std::optional<SigningKey> person = std::nullopt);
};

} // namespace wl
