#pragma once
// Writes log lines to the systemd journal through its native socket: one datagram a line
// with MESSAGE, PRIORITY and SYSLOG_IDENTIFIER, so `journalctl -t wickerlane` finds them
// also for a copy started from autostart or a menu, whose stderr goes nowhere. It never
// blocks (a full or stalled journal drops the line) and does nothing where no journal
// listens.

#include <mutex>
#include <string>

namespace wl {

class JournalSocket {
public:
    static constexpr const char* standardPath = "/run/systemd/journal/socket";

    explicit JournalSocket(std::string path = standardPath, std::string identifier = "wickerlane");
    ~JournalSocket();
    JournalSocket(const JournalSocket&) = delete;
    JournalSocket& operator=(const JournalSocket&) = delete;

    // True when the journal took the line. Priority as syslog's (6: informational).
    // Thread-safe.
    bool send(const std::string& message, int priority = 6);

    // Whether a journal listens at the path now (nothing is sent).
    bool listening() const;

    // Whether this process's stderr already goes to the journal (systemd's JOURNAL_STREAM
    // names stderr's device and inode).
    static bool stderrIsJournal();

private:
    std::string path_;
    std::string identifier_;
    std::mutex lock_;
    int socket_ = -1;
};

} // namespace wl
