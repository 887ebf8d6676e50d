#include "HttpApi.h"

#include "identity/Base64.h"
#include "identity/Keys.h"
#include "identity/SignedQuery.h"
#include "platform/Log.h"
#include "protocol/KeyRecord.h"
#include "protocol/MailEnvelope.h"

#include <nlohmann/json.hpp>

namespace wl::service {

namespace {
bool isDecimal(const std::string& text)
{
    if (text.empty() || text.size() > 18)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}
} // namespace

HttpApi::HttpApi(const ServiceConfig& config, MailStore& store, Hub& hub)
    : unixClock([] {
          return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
              .count();
      }),
      config_(config), store_(store), hub_(hub)
{
}

HttpAnswer HttpApi::error(unsigned status, const std::string& message)
{
    return HttpAnswer{status, nlohmann::json{{"error", message}}.dump()};
}

bool HttpApi::signedQueryHolds(const char* purpose, const RequestTarget& target) const
{
    if (!target.queryValid)
        return false;
    auto pub = target.single("pub");
    auto ts = target.single("ts");
    auto sig = target.single("sig");
    if (!pub || !ts || !sig || !isDecimal(*ts))
        return false;
    auto fingerprint = keyFingerprint(*pub);
    if (!fingerprint || *fingerprint != target.key)
        return false;
    return checkSignedQuery(purpose, target.key, *pub, *ts, *sig, unixClock());
}

RouteDecision HttpApi::route(Method method, const RequestTarget& target, bool isUpgrade)
{
    RouteDecision decision;
    if (target.kind == RouteKind::unknown) {
        decision.answer = error(404, "unknown path");
        return decision;
    }
    if (!target.keyValid) {
        decision.answer =
            error(400,
                  target.kind == RouteKind::pairHost || target.kind == RouteKind::pairJoin ? "malformed pairing code"
                                                                                           : "malformed device id");
        return decision;
    }
    switch (target.kind) {
    case RouteKind::status:
        if (method != Method::get)
            decision.answer = error(405, "method not allowed");
        return decision;
    case RouteKind::keys:
        if (method == Method::put)
            decision.bodyLimit = config_.maxKeyBodyBytes;
        else if (method != Method::get)
            decision.answer = error(405, "method not allowed");
        return decision;
    case RouteKind::mail:
        if (method == Method::post) {
            decision.bodyLimit = config_.maxMailBodyBytes;
            return decision;
        }
        break;
    default: break;
    }
    // The WebSocket routes.
    if (method != Method::get) {
        decision.answer = error(405, "method not allowed");
        return decision;
    }
    if (!isUpgrade) {
        decision.answer = error(426, "WebSocket upgrade required");
        return decision;
    }
    switch (target.kind) {
    case RouteKind::host:
        if (!signedQueryHolds(kPurposeHost, target))
            decision.answer = error(401, "signature does not hold");
        else
            decision.webSocket = Link::Role::host;
        break;
    case RouteKind::mail:
        if (!signedQueryHolds(kPurposeMailbox, target))
            decision.answer = error(401, "signature does not hold");
        else
            decision.webSocket = Link::Role::mailbox;
        break;
    case RouteKind::connect: decision.webSocket = Link::Role::connector; break;
    case RouteKind::pairHost: decision.webSocket = Link::Role::pairHost; break;
    case RouteKind::pairJoin: decision.webSocket = Link::Role::pairJoin; break;
    default: decision.answer = error(404, "unknown path"); break;
    }
    return decision;
}

HttpAnswer HttpApi::handle(Method method, const RequestTarget& target, const std::string& body)
{
    switch (target.kind) {
    case RouteKind::status: return HttpAnswer{200, nlohmann::json{{"online", hub_.isOnline(target.key)}}.dump()};
    case RouteKind::keys: return method == Method::put ? putKey(target, body) : getKey(target);
    case RouteKind::mail: return postMail(target, body);
    default: return error(404, "unknown path");
    }
}

HttpAnswer HttpApi::putKey(const RequestTarget& target, const std::string& body)
{
    if (!signedQueryHolds(kPurposeKeys, target))
        return error(401, "signature does not hold");
    auto record = KeyRecord::decode(body);
    if (!record)
        return error(400, "malformed key record");
    auto pub = target.single("pub");
    if (record->id != target.key || !pub || record->signingKey != *pub)
        return error(400, "key record does not match the request");
    auto mailKey = base64Decode(record->mailKey);
    if (!mailKey || mailKey->size() != 32)
        return error(400, "malformed mail key");
    if (!verifySignature(record->signature, KeyRecord::signedText(record->id, record->signingKey, record->mailKey),
                         record->signingKey))
        return error(401, "key record signature does not hold");
    if (!store_.putKeyRecord(record->id, record->encode(), record->signingKey))
        return error(500, "cannot store the key record");
    wl::Log::line("wickerlane-introduction: key record of " + idPrefix(record->id) + " published");
    return HttpAnswer{200, "{}"};
}

HttpAnswer HttpApi::getKey(const RequestTarget& target)
{
    auto record = store_.keyRecord(target.key);
    if (!record)
        return error(404, "no key record");
    return HttpAnswer{200, *record};
}

bool HttpApi::senderOverLimit(const std::string& from, Clock::time_point now)
{
    auto it = sent_.find(from);
    if (it == sent_.end())
        return false;
    auto& times = it->second;
    while (!times.empty() && now - times.front() >= std::chrono::minutes(1))
        times.pop_front();
    if (times.empty()) {
        sent_.erase(it);
        return false;
    }
    return times.size() >= config_.senderMailsPerMinute;
}

void HttpApi::prune(Clock::time_point now)
{
    std::erase_if(sent_, [&](const auto& entry) {
        return entry.second.empty() || now - entry.second.back() >= std::chrono::minutes(1);
    });
}

HttpAnswer HttpApi::postMail(const RequestTarget& target, const std::string& body)
{
    // The body size (413) was checked while reading.
    auto envelope = MailEnvelope::decode(body);
    if (!envelope || envelope->id.empty())
        return error(400, "malformed envelope");
    if (envelope->to != target.key || !store_.signingKeyOf(target.key))
        return error(404, "the recipient has published no key record");
    auto senderKey = store_.signingKeyOf(envelope->from);
    if (!senderKey || !envelope->signatureHolds(*senderKey))
        return error(401, "envelope signature does not hold");
    if (store_.hasEnvelope(target.key, envelope->id))
        return HttpAnswer{202, "{}"};
    auto now = Clock::now();
    if (store_.mailboxCount(target.key) >= config_.mailboxCapacity)
        return error(429, "the recipient's mailbox is full");
    if (senderOverLimit(envelope->from, now))
        return error(429, "too many envelopes from this sender");
    if (!store_.insertEnvelope(target.key, envelope->id, envelope->from, body, unixClock()))
        return error(500, "cannot store the envelope");
    sent_[envelope->from].push_back(now);
    hub_.mailArrived(target.key);
    return HttpAnswer{202, "{}"};
}

} // namespace wl::service
