#pragma once
// The least updater that does the job: it reads an appcast feed (RSS items whose
// enclosure carries sparkle:version, sparkle:edSignature and length) over HTTPS, picks
// the newest item above the running version, downloads its archive (a tar file holding
// the program's files, the program itself among them) within a size limit into a
// staging folder beside the program, verifies the archive's Ed25519 signature against
// the configured public key and unpacks it there. Only then is the update ready; its
// installation moves the unpacked files over the program's own (each one by rename,
// undone when one fails) and reopens the program.
//
// A feed that does not parse, a download that fails, is cut short or is too large, a
// bad signature or an archive that does not unpack leaves the installed program as it
// was, with a log line "Wickerlane: update …". So does an installation that fails midway
// once undone; when the file system refuses part of the undoing too, that is an outcome
// of its own (Outcome::undoIncomplete), whose log line names every path left changed and
// where the old file is.

#include "platform/OneShotTimer.h"
#include "platform/Updater.h"

#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QSslCertificate>
#include <QUrl>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QFile;
class QNetworkReply;
class QTemporaryDir;

namespace wl {

class Prompts;

struct FeedUpdaterOptions {
    QUrl feedURL;
    std::string publicKey; // base64 of the raw 32-byte Ed25519 public key
    std::string currentVersion; // the running program's version, "1.2.3"
    // Where the program's files are installed, and the program's file name there.
    std::filesystem::path programDirectory;
    std::string programName = "wickerlane";
    // After a successful installation: start the new program and end this one.
    std::function<void()> relaunch;
    // The automatic checks' timers (required).
    TimerFactory timers;
    std::chrono::milliseconds firstCheck{std::chrono::minutes(1)};
    std::chrono::milliseconds checkInterval{std::chrono::hours(24)};
    qint64 maxFeedBytes = 1 << 20;
    qint64 maxArchiveBytes = qint64(512) << 20;
    // Certificates trusted besides the system's (a test's own authority).
    QList<QSslCertificate> extraCertificates;
    // Outcomes of user-initiated checks (required).
    Prompts* prompts = nullptr;
};

// One entry of a feed.
struct FeedItem {
    std::string version;
    QUrl url;
    std::string signature; // base64 Ed25519 signature of the archive
    std::optional<qint64> length;
};

class FeedUpdater final : public QObject, public Updater {
    Q_OBJECT
public:
    explicit FeedUpdater(FeedUpdaterOptions options, QObject* parent = nullptr);
    ~FeedUpdater() override;

    void start() override;
    void checkForUpdates() override;

    // The items of an appcast feed; nullopt when it does not parse as one.
    static std::optional<std::vector<FeedItem>> parseFeed(const QByteArray& xml);
    // Numeric, dot-separated comparison ("1.10" > "1.9"; a missing part counts as 0).
    static int compareVersions(const std::string& a, const std::string& b);
    // Whether the signature (base64, 64 bytes) of the data verifies against the public
    // key (base64, 32 bytes).
    static bool signatureHolds(const QByteArray& data, const std::string& signature, const std::string& publicKey);

    // For diagnostics and tests.
    bool checking() const { return checking_; }
    int checksFinished() const { return checksFinished_; }
    // The last outcome: "up to date", "ready <version>", "installed <version>" or the failure.
    const std::string& lastOutcome() const { return lastOutcome_; }
    enum class Outcome {
        none,
        upToDate,
        ready,
        installed,
        notInstalled, // the installed program is as it was
        undoIncomplete, // an installation failed midway and not all of it could be undone
    };
    Outcome lastOutcomeKind() const { return lastOutcomeKind_; }

private:
    void check(bool userInitiated);
    void scheduleCheck(std::chrono::milliseconds delay);
    void feedArrived(QNetworkReply* reply, bool userInitiated);
    void download(const FeedItem& item, bool userInitiated);
    void archiveArrived(const FeedItem& item, bool userInitiated);
    void unpacked(const FeedItem& item, bool userInitiated);
    void ready(const FeedItem& item, bool userInitiated);
    bool install(const std::shared_ptr<QTemporaryDir>& staging, const std::string& version);
    void fail(const std::string& reason, bool userInitiated);
    // An installation that failed for `reason`: undone, or left as `left` says.
    bool abandonInstall(const std::string& version, const std::string& reason, const std::vector<std::string>& left);
    void finish(Outcome kind, const std::string& outcome);
    QNetworkReply* get(const QUrl& url, qint64 limit);
    Prompts& prompts() const;

    FeedUpdaterOptions options_;
    QNetworkAccessManager network_;
    std::unique_ptr<OneShotTimer> timer_;
    bool started_ = false;
    bool checking_ = false;
    int checksFinished_ = 0;
    std::string readyVersion_; // downloaded, verified and handed on; not installed yet
    std::string lastOutcome_;
    Outcome lastOutcomeKind_ = Outcome::none;
    // The download in progress and its staging folder.
    std::shared_ptr<QTemporaryDir> staging_;
    std::unique_ptr<QFile> archive_;
    qint64 received_ = 0;
};

} // namespace wl
