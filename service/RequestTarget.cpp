#include "RequestTarget.h"

namespace wl::service {

namespace {
int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::vector<std::string_view> split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        auto at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
        if (at == std::string_view::npos)
            break;
        start = at + 1;
    }
    return parts;
}
} // namespace

bool isDeviceId(std::string_view text)
{
    if (text.size() != 64)
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

bool isPairingCode(std::string_view text)
{
    static constexpr std::string_view alphabet = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";
    if (text.size() != 8)
        return false;
    for (char c : text)
        if (alphabet.find(c) == std::string_view::npos)
            return false;
    return true;
}

std::optional<std::string> percentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        int high = hexValue(text[i + 1]);
        int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return out;
}

RequestTarget RequestTarget::parse(std::string_view target)
{
    RequestTarget result;
    std::string_view path = target;
    std::string_view query;
    if (auto q = target.find('?'); q != std::string_view::npos) {
        path = target.substr(0, q);
        query = target.substr(q + 1);
    }
    if (!query.empty()) {
        for (auto item : split(query, '&')) {
            if (item.empty())
                continue;
            auto eq = item.find('=');
            auto name = percentDecode(item.substr(0, eq));
            auto value = percentDecode(eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1));
            if (!name || !value) {
                result.queryValid = false;
                continue;
            }
            result.query.emplace_back(std::move(*name), std::move(*value));
        }
    }

    if (path.empty() || path.front() != '/')
        return result;
    RouteMatch match = matchRoute(path.substr(1));
    if (match.route == Route::unknown)
        return result;
    result.kind = match.route;
    result.key = std::string(match.key);
    result.keyValid = routeEntry(match.route)->keyIsPairingCode ? isPairingCode(result.key) : isDeviceId(result.key);
    return result;
}

std::optional<std::string> RequestTarget::single(std::string_view name) const
{
    std::optional<std::string> found;
    for (const auto& [itemName, value] : query) {
        if (itemName != name)
            continue;
        if (found)
            return std::nullopt;
        found = value;
    }
    return found;
}

bool RequestTarget::isWebSocketRoute() const
{
    return kind == RouteKind::host || kind == RouteKind::connect || kind == RouteKind::pairHost ||
        kind == RouteKind::pairJoin || kind == RouteKind::mail;
}

} // namespace wl::service
