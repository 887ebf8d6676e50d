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

MailIdentity MailIdentity::standard()
{
    MailIdentity identity;
    identity.deviceKey = [] { return deviceSigningKey(); };
    identity.mailKey = [] { return mailAgreementKey(); };
    identity.personKey = [] { return personSigningKey(); };
    identity.storePersonKey = [](const SigningKey& key) { return storePersonSigningKey(key); };
    identity.deviceName = [] {
        auto name = QSysInfo::machineHostName().toStdString();
        return name.empty() ? std::string("Computer") : name;
    };
    return identity;
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
    identity.defaults = [defaults]() -> Defaults& { return *defaults; };
    return identity;
}

} // namespace wl
