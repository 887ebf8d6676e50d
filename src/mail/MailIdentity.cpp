#include "mail/MailIdentity.h"

#include "identity/DeviceIdentity.h"

#include <QString>
#include <QSysInfo>

namespace wl {

std::string MailIdentity::deviceId() const
{
    auto key = deviceKey ? deviceKey() : std::nullopt;
    return key ? fingerprintOfRaw(key->publicKeyRaw()) : std::string();
}

MailIdentity MailIdentity::of(std::shared_ptr<DeviceIdentity> keys, std::shared_ptr<Defaults> defaults,
                              std::string name)
{
    MailIdentity identity;
    identity.deviceKey = [keys] { return keys->deviceSigningKey(); };
    identity.mailKey = [keys] { return keys->mailAgreementKey(); };
    identity.personKey = [keys] { return keys->personSigningKey(); };
    identity.storePersonKey = [keys](const SigningKey& key) { return keys->storePersonSigningKey(key); };
    identity.deviceName = [name] { return name; };
    if (defaults)
        identity.defaults = [defaults]() -> Defaults& { return *defaults; };
    return identity;
}

std::string MailIdentity::computerName()
{
    auto name = QSysInfo::machineHostName().toStdString();
    return name.empty() ? std::string("Computer") : name;
}

MailIdentity MailIdentity::inMemory(std::shared_ptr<Defaults> defaults, std::string name,
                                    std::optional<SigningKey> device, std::optional<AgreementKey> mail,
                                    std::optional<SigningKey> person)
{
    struct Keys {
        SigningKey device;
        AgreementKey mail;
        SigningKey person;
    };
    auto keys =
        std::make_shared<Keys>(Keys{device ? *device : SigningKey::generate(), mail ? *mail : AgreementKey::generate(),
                                    person ? *person : SigningKey::generate()});
    MailIdentity identity;
    identity.deviceKey = [keys] { return std::optional<SigningKey>(keys->device); };
    identity.mailKey = [keys] { return std::optional<AgreementKey>(keys->mail); };
    identity.personKey = [keys] { return std::optional<SigningKey>(keys->person); };
    identity.storePersonKey = [keys](const SigningKey& key) {
        keys->person = key;
        return true;
    };
    identity.deviceName = [name] { return name; };
    if (defaults)
        identity.defaults = [defaults]() -> Defaults& { return *defaults; };
    return identity;
}

} // namespace wl
