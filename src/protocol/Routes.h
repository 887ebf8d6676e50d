#pragma once
// The introduction service's routes, in one table: the program's clients build their
// paths from it and the service's request parser reads request targets by it. A path is
// relative to the service's base URL: a route's prefix, then its key (a device id or a
// pairing code), as in "v1/status/<id>".

#include <string>
#include <string_view>

namespace wl {

enum class Route {
    unknown, // no route (the service answers 404)
    status, // v1/status/<id>
    keys, // v1/keys/<id>
    mail, // v1/mail/<id>: POST delivers, a WebSocket is the mailbox link
    host, // v1/host/<id>
    connect, // v1/connect/<id>
    pairHost, // v1/pair/host/<code>
    pairJoin, // v1/pair/join/<code>
};

struct RouteEntry {
    Route route;
    std::string_view prefix; // the path up to the key, with its trailing '/'
    bool keyIsPairingCode; // else a device id
};

inline constexpr RouteEntry kRoutes[] = {
    {Route::status, "v1/status/", false},     {Route::keys, "v1/keys/", false},
    {Route::mail, "v1/mail/", false},         {Route::host, "v1/host/", false},
    {Route::connect, "v1/connect/", false},   {Route::pairHost, "v1/pair/host/", true},
    {Route::pairJoin, "v1/pair/join/", true},
};

// The entry of a route; nullptr for Route::unknown.
inline const RouteEntry* routeEntry(Route route)
{
    for (const RouteEntry& entry : kRoutes)
        if (entry.route == route)
            return &entry;
    return nullptr;
}

// The path of a route for a key: "v1/status/" + id.
inline std::string routePath(Route route, std::string_view key)
{
    const RouteEntry* entry = routeEntry(route);
    if (!entry)
        return {};
    std::string path(entry->prefix);
    path.append(key);
    return path;
}

// The route a path names (without its leading '/') and its key: the path is a route's
// prefix and then a key with no further '/'. Route::unknown when none.
struct RouteMatch {
    Route route = Route::unknown;
    std::string_view key;
};
inline RouteMatch matchRoute(std::string_view path)
{
    for (const RouteEntry& entry : kRoutes) {
        if (path.substr(0, entry.prefix.size()) != entry.prefix)
            continue;
        std::string_view key = path.substr(entry.prefix.size());
        if (key.find('/') != std::string_view::npos)
            continue;
        return {entry.route, key};
    }
    return {};
}

} // namespace wl
