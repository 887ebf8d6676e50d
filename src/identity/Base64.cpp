#include "identity/Base64.h"

#include <array>
#include <cstdint>

namespace wl {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> makeTable()
{
    std::array<std::int8_t, 256> table{};
    for (auto& v : table)
        v = -1;
    for (int i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
    return table;
}

constexpr std::array<std::int8_t, 256> kTable = makeTable();

} // namespace

std::string base64Encode(std::string_view bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = (std::uint32_t(static_cast<unsigned char>(bytes[i])) << 16) |
            (std::uint32_t(static_cast<unsigned char>(bytes[i + 1])) << 8) |
            std::uint32_t(static_cast<unsigned char>(bytes[i + 2]));
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest == 1) {
        const std::uint32_t v = std::uint32_t(static_cast<unsigned char>(bytes[i])) << 16;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += "==";
    } else if (rest == 2) {
        const std::uint32_t v = (std::uint32_t(static_cast<unsigned char>(bytes[i])) << 16) |
            (std::uint32_t(static_cast<unsigned char>(bytes[i + 1])) << 8);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

std::optional<std::string> base64Decode(std::string_view text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') {
        padding = 1;
        if (text[text.size() - 2] == '=')
            padding = 2;
    }
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const std::size_t dataChars = last ? 4 - padding : 4;
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            v <<= 6;
            if (k < dataChars) {
                const std::int8_t d = kTable[static_cast<unsigned char>(text[i + k])];
                if (d < 0)
                    return std::nullopt;
                v |= static_cast<std::uint32_t>(d);
            }
        }
        if (dataChars == 4) {
            out += static_cast<char>((v >> 16) & 0xff);
            out += static_cast<char>((v >> 8) & 0xff);
            out += static_cast<char>(v & 0xff);
        } else if (dataChars == 3) {
            if ((v & 0xff) != 0)
                return std::nullopt; // non-zero pad bits
            out += static_cast<char>((v >> 16) & 0xff);
            out += static_cast<char>((v >> 8) & 0xff);
        } else {
            if ((v & 0xffff) != 0)
                return std::nullopt;
            out += static_cast<char>((v >> 16) & 0xff);
        }
    }
    return out;
}

} // namespace wl
