#include "platform/ShownText.h"

namespace wl {

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kEllipsis = 0x2026;
constexpr char32_t kZeroWidthJoiner = 0x200D;

// The next code point of text from pos (advanced past it); a malformed, overlong or
// surrogate sequence is one U+FFFD for its first byte.
char32_t decode(std::string_view text, std::size_t& pos)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    std::size_t length = 0;
    char32_t value = 0;
    char32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
        least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
        least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
        least = 0x10000;
    } else {
        ++pos;
        return kReplacement;
    }
    if (pos + length > text.size()) {
        ++pos;
        return kReplacement;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = byte(pos + i);
        if ((next & 0xC0) != 0x80) {
            ++pos;
            return kReplacement;
        }
        value = (value << 6) | (next & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        ++pos;
        return kReplacement;
    }
    pos += length;
    return value;
}

void encode(char32_t c, std::string& out)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool isLineBreak(char32_t c)
{
    return c == '\n' || c == '\r' || c == 0x0B || c == 0x0C || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// Characters never shown: controls, bidirectional formatting, the byte order mark and
// the interlinear annotation marks.
bool isDropped(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
        (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB);
}

} // namespace

std::string shownText(std::string_view utf8, std::size_t maxChars, LineBreaks lineBreaks)
{
    // The characters kept, at most one more than fit (that one tells it was cut).
    std::u32string kept;
    bool pendingSpace = false;
    int pendingBreaks = 0;
    std::size_t pos = 0;
    while (pos < utf8.size() && kept.size() <= maxChars) {
        char32_t c = decode(utf8, pos);
        if (isLineBreak(c)) {
            if (c == '\r' && pos < utf8.size() && utf8[pos] == '\n')
                ++pos; // CR LF is one break
            if (lineBreaks == LineBreaks::keep)
                ++pendingBreaks;
            else
                pendingSpace = true;
            continue;
        }
        if (c == '\t' || c == ' ') {
            pendingSpace = true;
            continue;
        }
        if (isDropped(c))
            continue;
        if (!kept.empty()) {
            if (pendingBreaks > 0)
                kept.append(pendingBreaks > 1 ? 2 : 1, U'\n');
            else if (pendingSpace)
                kept += U' ';
        }
        pendingSpace = false;
        pendingBreaks = 0;
        kept += c;
    }
    if (kept.size() > maxChars) {
        kept.resize(maxChars > 0 ? maxChars - 1 : 0);
        while (!kept.empty() && (kept.back() == U' ' || kept.back() == U'\n' || kept.back() == kZeroWidthJoiner))
            kept.pop_back();
        if (maxChars > 0)
            kept += kEllipsis;
    }
    std::string out;
    out.reserve(kept.size());
    for (char32_t c : kept)
        encode(c, out);
    return out;
}

} // namespace wl
