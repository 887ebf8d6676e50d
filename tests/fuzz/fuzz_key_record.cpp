#include "FuzzCheck.h"
#include "identity/Base64.h"
#include "identity/DeviceIdentity.h"
#include "protocol/KeyRecord.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    wl::fuzz::roundTrip<wl::KeyRecord>(text);
    if (auto record = wl::KeyRecord::decode(text))
        (void)record->isValid();

    // Strict base64: whatever decodes is the canonical spelling of its bytes.
    if (auto bytes = wl::base64Decode(text))
        wl::fuzz::require(wl::base64Encode(*bytes) == text, "base64 decoding is canonical");
    (void)wl::keyFingerprint(std::string(text));
    (void)wl::verifySignature(std::string(text), "message", std::string(text));

    if (auto code = wl::normalizePairingCode(text)) {
        wl::fuzz::require(code->size() == 8, "pairing codes have 8 symbols");
        wl::fuzz::require(wl::normalizePairingCode(*code) == code, "normalizing is idempotent");
    }
    (void)wl::isValidPIN(std::string(text));
    return 0;
}
