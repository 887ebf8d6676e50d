#include "MailStore.h"

#include "platform/Log.h"

#include <sqlite3.h>

#include <filesystem>

namespace wl::service {

namespace {

enum Statement {
    putKey,
    getKey,
    getSigningKey,
    hasMail,
    countMail,
    insertMail,
    pendingMail,
    deleteMail,
    dropOld,
    statementCount
};

const char* const statementTexts[statementCount] = {
    ("INSERT INTO keys(id, record, signing_key) VALUES(?1, ?2, ?3) "
     "ON CONFLICT(id) DO UPDATE SET record = excluded.record, signing_key = excluded.signing_key"),
    "SELECT record FROM keys WHERE id = ?1",
    "SELECT signing_key FROM keys WHERE id = ?1",
    "SELECT 1 FROM mail WHERE recipient = ?1 AND envelope_id = ?2",
    "SELECT COUNT(*) FROM mail WHERE recipient = ?1",
    "INSERT INTO mail(recipient, envelope_id, sender, body, received_at) VALUES(?1, ?2, ?3, ?4, ?5)",
    "SELECT seq, envelope_id, body FROM mail WHERE recipient = ?1 AND seq > ?2 AND received_at >= ?3 "
    "ORDER BY seq LIMIT ?4",
    "DELETE FROM mail WHERE recipient = ?1 AND envelope_id = ?2",
    "DELETE FROM mail WHERE received_at < ?1",
};

const char* const schema = "PRAGMA journal_mode=WAL;"
                           "PRAGMA synchronous=FULL;"
                           "CREATE TABLE IF NOT EXISTS keys("
                           "  id TEXT PRIMARY KEY NOT NULL,"
                           "  record TEXT NOT NULL,"
                           "  signing_key TEXT NOT NULL);"
                           "CREATE TABLE IF NOT EXISTS mail("
                           "  seq INTEGER PRIMARY KEY AUTOINCREMENT,"
                           "  recipient TEXT NOT NULL,"
                           "  envelope_id TEXT NOT NULL,"
                           "  sender TEXT NOT NULL,"
                           "  body BLOB NOT NULL,"
                           "  received_at INTEGER NOT NULL,"
                           "  UNIQUE(recipient, envelope_id));"
                           "CREATE INDEX IF NOT EXISTS mail_by_recipient ON mail(recipient, seq);"
                           "CREATE INDEX IF NOT EXISTS mail_by_age ON mail(received_at);"
                           "CREATE TABLE IF NOT EXISTS service("
                           "  name TEXT PRIMARY KEY NOT NULL,"
                           "  value INTEGER NOT NULL);";

// Resets the statement when leaving the scope.
struct Use {
    sqlite3_stmt* s;
    explicit Use(sqlite3_stmt* statement) : s(statement) { }
    ~Use()
    {
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
    }
    Use& text(int index, const std::string& value)
    {
        sqlite3_bind_text(s, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Use& blob(int index, const std::string& value)
    {
        sqlite3_bind_blob(s, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Use& integer(int index, std::int64_t value)
    {
        sqlite3_bind_int64(s, index, value);
        return *this;
    }
    std::string column(int index) const
    {
        const void* data = sqlite3_column_blob(s, index);
        int size = sqlite3_column_bytes(s, index);
        return data ? std::string(static_cast<const char*>(data), static_cast<std::size_t>(size)) : std::string();
    }
};

void logFailure(sqlite3* db, const char* what)
{
    wl::Log::line(std::string("wickerlane-introduction: database ") + what + " failed: " + sqlite3_errmsg(db));
}

} // namespace

MailStore::MailStore(sqlite3* db) : db_(db) { }

MailStore::~MailStore()
{
    for (auto* s : statements_)
        sqlite3_finalize(s);
    sqlite3_close(db_);
}

std::unique_ptr<MailStore> MailStore::open(const std::string& path, std::string* error)
{
    auto fail = [&](std::string message) {
        if (error)
            *error = std::move(message);
        return nullptr;
    };
    namespace fs = std::filesystem;
    std::error_code ec;
    auto parent = fs::path(path).parent_path();
    if (!parent.empty() && !fs::is_directory(parent, ec)) {
        fs::create_directories(parent, ec);
        if (ec)
            return fail("cannot create the folder " + parent.string() + " for the database " + path + ": " +
                        ec.message());
    }
    if (fs::is_directory(path, ec))
        return fail("the database " + path + " is a folder, not a file");

    sqlite3* db = nullptr;
    int rc =
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    std::unique_ptr<MailStore> store(db ? new MailStore(db) : nullptr);
    if (rc != SQLITE_OK)
        return fail("cannot open the database " + path + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));

    // One service per database: the connection keeps its lock on the file until the process
    // ends, so a second instance on the same file finds it locked and refuses to start.
    auto run = [&](const char* sql, const char* what) {
        char* message = nullptr;
        int code = sqlite3_exec(db, sql, nullptr, nullptr, &message);
        std::string text = message ? message : sqlite3_errstr(code);
        sqlite3_free(message);
        if (code == SQLITE_OK)
            return std::string();
        code = sqlite3_extended_errcode(db) & 0xff;
        if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
            return "the database " + path + " is in use by another process (another wickerlane-introduction?)";
        if (code == SQLITE_NOTADB)
            return "the database " + path + " is not a database file";
        if (code == SQLITE_CORRUPT)
            return "the database " + path + " is damaged: " + text;
        return std::string("cannot ") + what + " the database " + path + ": " + text;
    };
    if (auto problem = run("PRAGMA locking_mode=EXCLUSIVE; PRAGMA journal_mode=WAL;", "read"); !problem.empty())
        return fail(problem);

    // The quick check reads every page once: a damaged file is found now, not when some
    // mailbox happens to touch the bad page.
    {
        sqlite3_stmt* check = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA quick_check(1)", -1, &check, nullptr) != SQLITE_OK)
            return fail(run("PRAGMA quick_check(1)", "check"));
        std::string verdict;
        int step = sqlite3_step(check);
        if (step == SQLITE_ROW) {
            const unsigned char* text = sqlite3_column_text(check, 0);
            verdict = text ? reinterpret_cast<const char*>(text) : "";
        } else {
            verdict = sqlite3_errmsg(db);
        }
        sqlite3_finalize(check);
        if (verdict != "ok")
            return fail("the database " + path + " failed its integrity check: " + verdict);
    }

    if (auto problem = run(schema, "set up"); !problem.empty())
        return fail(problem);
    // A real write, committed to disk: a database that can be read but not written (read-only
    // file or folder, full disk) stops the service now rather than at the first mail.
    if (sqlite3_db_readonly(db, "main") == 1)
        return fail("cannot write the database " + path + ": it opened read-only");
    // The count of starts changes at every start, so the write always reaches the disk.
    const char* probe = "INSERT INTO service(name, value) VALUES('starts', 1) "
                        "ON CONFLICT(name) DO UPDATE SET value = value + 1";
    if (auto problem = run(probe, "write"); !problem.empty())
        return fail(problem);

    sqlite3_busy_timeout(db, 5000);
    if (!store->prepare(error))
        return nullptr;
    return store;
}

bool MailStore::prepare(std::string* error)
{
    for (int i = 0; i < statementCount; ++i) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v3(db_, statementTexts[i], -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK) {
            if (error)
                *error = std::string("cannot prepare a statement: ") + sqlite3_errmsg(db_);
            return false;
        }
        statements_.push_back(s);
    }
    return true;
}

sqlite3_stmt* MailStore::statement(int which)
{
    return statements_[static_cast<std::size_t>(which)];
}

bool MailStore::putKeyRecord(const std::string& id, const std::string& recordJson, const std::string& signingKey)
{
    Use use(statement(putKey));
    use.text(1, id).text(2, recordJson).text(3, signingKey);
    if (sqlite3_step(use.s) != SQLITE_DONE) {
        logFailure(db_, "key write");
        return false;
    }
    return true;
}

std::optional<std::string> MailStore::keyRecord(const std::string& id)
{
    Use use(statement(getKey));
    use.text(1, id);
    if (sqlite3_step(use.s) == SQLITE_ROW)
        return use.column(0);
    return std::nullopt;
}

std::optional<std::string> MailStore::signingKeyOf(const std::string& id)
{
    Use use(statement(getSigningKey));
    use.text(1, id);
    if (sqlite3_step(use.s) == SQLITE_ROW)
        return use.column(0);
    return std::nullopt;
}

bool MailStore::hasEnvelope(const std::string& recipient, const std::string& envelopeId)
{
    Use use(statement(hasMail));
    use.text(1, recipient).text(2, envelopeId);
    return sqlite3_step(use.s) == SQLITE_ROW;
}

std::size_t MailStore::mailboxCount(const std::string& recipient)
{
    Use use(statement(countMail));
    use.text(1, recipient);
    if (sqlite3_step(use.s) == SQLITE_ROW)
        return static_cast<std::size_t>(sqlite3_column_int64(use.s, 0));
    return 0;
}

bool MailStore::insertEnvelope(const std::string& recipient, const std::string& envelopeId, const std::string& sender,
                               const std::string& body, std::int64_t receivedAtUnix)
{
    Use use(statement(insertMail));
    use.text(1, recipient).text(2, envelopeId).text(3, sender).blob(4, body).integer(5, receivedAtUnix);
    if (sqlite3_step(use.s) != SQLITE_DONE) {
        logFailure(db_, "mail write");
        return false;
    }
    return true;
}

std::vector<MailStore::Envelope> MailStore::pending(const std::string& recipient, std::int64_t afterSeq,
                                                    std::int64_t notBeforeUnix, std::size_t limit)
{
    std::vector<Envelope> result;
    Use use(statement(pendingMail));
    use.text(1, recipient).integer(2, afterSeq).integer(3, notBeforeUnix).integer(4, static_cast<std::int64_t>(limit));
    int rc;
    while ((rc = sqlite3_step(use.s)) == SQLITE_ROW)
        result.push_back(Envelope{sqlite3_column_int64(use.s, 0), use.column(1), use.column(2)});
    if (rc != SQLITE_DONE)
        logFailure(db_, "mail read");
    return result;
}

bool MailStore::remove(const std::string& recipient, const std::string& envelopeId)
{
    Use use(statement(deleteMail));
    use.text(1, recipient).text(2, envelopeId);
    if (sqlite3_step(use.s) != SQLITE_DONE) {
        logFailure(db_, "mail delete");
        return false;
    }
    return sqlite3_changes(db_) > 0;
}

int MailStore::dropOlderThan(std::int64_t unixTime)
{
    Use use(statement(dropOld));
    use.integer(1, unixTime);
    if (sqlite3_step(use.s) != SQLITE_DONE) {
        logFailure(db_, "mail expiry");
        return 0;
    }
    return sqlite3_changes(db_);
}

} // namespace wl::service
