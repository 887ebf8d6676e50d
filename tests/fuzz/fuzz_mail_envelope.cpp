#include "FuzzCheck.h"
#include "protocol/MailEnvelope.h"
#include "protocol/PairedDevice.h"

#include <cstddef>
#include <cstdint>

namespace {

struct Keys {
    wl::SigningKey sender = *wl::SigningKey::fromRaw(std::string(32, '\x01'));
    wl::AgreementKey recipient = *wl::AgreementKey::fromRaw(std::string(32, '\x02'));
    std::string recipientId = wl::fingerprintOfRaw(std::string(32, '\x03'));
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const Keys keys;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    wl::fuzz::roundTrip<wl::MailEnvelope>(text);
    wl::fuzz::roundTrip<wl::MailContent>(text);
    wl::fuzz::roundTrip<wl::PairedDevice>(text);
    (void)wl::PairedDevice::decodeList(text);

    if (auto envelope = wl::MailEnvelope::decode(text)) {
        // Forged envelopes never open; the checks must not crash on any field.
        auto opened = envelope->open(keys.recipient, envelope->to, keys.sender.publicKeyBase64());
        wl::fuzz::require(!opened, "an envelope not signed by the sender does not open");
        (void)envelope->signatureHolds(envelope->from);
    }
    if (auto content = wl::MailContent::decode(text)) {
        // Whatever decodes as content seals and opens again unchanged.
        const std::string senderId = wl::fingerprintOfRaw(keys.sender.publicKeyRaw());
        auto sealed =
            wl::MailEnvelope::trySeal(*content, keys.sender, keys.recipientId, keys.recipient.publicKeyBase64());
        wl::fuzz::require(sealed.has_value(), "content seals");
        wl::fuzz::require(sealed->from == senderId, "sender id");
        auto opened = sealed->open(keys.recipient, keys.recipientId, keys.sender.publicKeyBase64());
        wl::fuzz::require(opened.has_value() && *opened == *content, "sealed content opens unchanged");
    }
    return 0;
}
