#include "identity/Random.h"

#include "platform/Log.h"

#include <openssl/rand.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace wl {

std::string randomBytes(std::size_t count)
{
    std::string out(count, '\0');
    std::size_t done = 0;
    while (done < count) {
        const std::size_t chunk = std::min<std::size_t>(count - done, std::numeric_limits<int>::max());
        if (RAND_bytes(reinterpret_cast<unsigned char*>(out.data() + done), static_cast<int>(chunk)) != 1) {
            // Without secure random numbers no key, nonce or code can be trusted.
            Log::line("Wickerlane: the secure random source failed; stopping.");
            std::exit(EXIT_FAILURE);
        }
        done += chunk;
    }
    return out;
}

std::string newUUID()
{
    std::string b = randomBytes(16);
    b[6] = static_cast<char>((static_cast<unsigned char>(b[6]) & 0x0f) | 0x40);
    b[8] = static_cast<char>((static_cast<unsigned char>(b[8]) & 0x3f) | 0x80);
    static const char* hex = "0123456789abcdef";
    std::string out;
    out.reserve(36);
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            out += '-';
        const auto c = static_cast<unsigned char>(b[i]);
        out += hex[c >> 4];
        out += hex[c & 15];
    }
    return out;
}

} // namespace wl
