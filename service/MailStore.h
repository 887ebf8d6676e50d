#pragma once
// Key records and mailboxes in SQLite (WAL, synchronous=FULL): an envelope answered with
// 202 survives a kill -9, an acknowledged one is gone for good.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace wl::service {

class MailStore {
public:
    struct Envelope {
        std::int64_t seq = 0;
        std::string id;
        std::string body; // the exact bytes that were posted
    };

    // Null (with a message in error naming the file and the reason) when the database can't
    // be opened, fails its quick check, can't be written, or is in use by another process.
    static std::unique_ptr<MailStore> open(const std::string& path, std::string* error);
    ~MailStore();
    MailStore(const MailStore&) = delete;
    MailStore& operator=(const MailStore&) = delete;

    bool putKeyRecord(const std::string& id, const std::string& recordJson, const std::string& signingKey);
    std::optional<std::string> keyRecord(const std::string& id);
    std::optional<std::string> signingKeyOf(const std::string& id);

    bool hasEnvelope(const std::string& recipient, const std::string& envelopeId);
    std::size_t mailboxCount(const std::string& recipient);
    bool insertEnvelope(const std::string& recipient, const std::string& envelopeId, const std::string& sender,
                        const std::string& body, std::int64_t receivedAtUnix);
    // Up to `limit` waiting envelopes after sequence number afterSeq, oldest first, received at
    // or after notBeforeUnix.
    std::vector<Envelope> pending(const std::string& recipient, std::int64_t afterSeq, std::int64_t notBeforeUnix,
                                  std::size_t limit);
    // True when something was deleted.
    bool remove(const std::string& recipient, const std::string& envelopeId);
    // Drops envelopes received before the given time; returns how many.
    int dropOlderThan(std::int64_t unixTime);

private:
    explicit MailStore(sqlite3* db);
    bool prepare(std::string* error);
    sqlite3_stmt* statement(int which);

    sqlite3* db_;
    std::vector<sqlite3_stmt*> statements_;
};

} // namespace wl::service
