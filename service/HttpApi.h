#pragma once
// The HTTP side of the service: routing of every request (including the decision to
// accept a WebSocket), presence, key records and mail delivery.

#include "Hub.h"
#include "Link.h"
#include "MailStore.h"
#include "RequestTarget.h"
#include "ServiceConfig.h"

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>

namespace wl::service {

struct HttpAnswer {
    unsigned status = 200;
    std::string body;
    std::string contentType = "application/json";
};

enum class Method { get, put, post, other };

struct RouteDecision {
    std::optional<HttpAnswer> answer; // answer now, without reading a body
    std::optional<Link::Role> webSocket; // accept the upgrade in this role
    std::size_t bodyLimit = 0; // otherwise: read a body of at most this size, then handle()
};

class HttpApi {
public:
    using Clock = std::chrono::steady_clock;

    HttpApi(const ServiceConfig& config, MailStore& store, Hub& hub);

    // After the request header: where the request goes.
    RouteDecision route(Method method, const RequestTarget& target, bool isUpgrade);
    // After the body: the answer of an HTTP endpoint that route() sent on.
    HttpAnswer handle(Method method, const RequestTarget& target, const std::string& body);

    // The signed query items pub/ts/sig for purpose and the target's id.
    bool signedQueryHolds(const char* purpose, const RequestTarget& target) const;

    // Unix seconds; replaceable for tests.
    std::function<std::int64_t()> unixClock;

    // Forgets senders with nothing in the last minute.
    void prune(Clock::time_point now = Clock::now());

    static HttpAnswer error(unsigned status, const std::string& message);

private:
    HttpAnswer putKey(const RequestTarget& target, const std::string& body);
    HttpAnswer getKey(const RequestTarget& target);
    HttpAnswer postMail(const RequestTarget& target, const std::string& body);
    bool senderOverLimit(const std::string& from, Clock::time_point now);

    const ServiceConfig& config_;
    MailStore& store_;
    Hub& hub_;
    std::unordered_map<std::string, std::deque<Clock::time_point>> sent_; // accepted envelopes per sender
};

} // namespace wl::service
