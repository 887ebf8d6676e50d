#include "platform/linux/FeedUpdater.h"

#include "platform/Required.h"

#include "platform/Log.h"
#include "platform/Prompts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QProcess>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTimer>
#include <QXmlStreamReader>

#include <openssl/evp.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <unistd.h>

namespace wl {

namespace {

const QString kSparkle = QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");
constexpr int kUnpackTimeLimitMs = 120000;
constexpr int kTransferTimeLimitMs = 300000;

std::optional<QByteArray> decodeBase64(const std::string& text)
{
    auto result =
        QByteArray::fromBase64Encoding(QByteArray::fromStdString(text), QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return std::nullopt;
    return *result;
}

std::string versionText(const FeedItem& item)
{
    return item.version;
}

} // namespace

FeedUpdater::FeedUpdater(FeedUpdaterOptions options, QObject* parent) : QObject(parent), options_(std::move(options))
{
    required(options_.prompts, "FeedUpdater", "prompts");
    options_.timers = requiredTimers(std::move(options_.timers), "FeedUpdater");
    network_.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

FeedUpdater::~FeedUpdater() = default;

Prompts& FeedUpdater::prompts() const
{
    return *options_.prompts;
}

void FeedUpdater::start()
{
    started_ = true;
    scheduleCheck(options_.firstCheck);
}

void FeedUpdater::scheduleCheck(std::chrono::milliseconds delay)
{
    QPointer<FeedUpdater> self(this);
    timer_ = options_.timers(delay, [self] {
        if (self)
            self->check(false);
    });
}

void FeedUpdater::checkForUpdates()
{
    check(true);
}

void FeedUpdater::check(bool userInitiated)
{
    if (checking_)
        return;
    checking_ = true;
    if (options_.feedURL.scheme() != QStringLiteral("https"))
        return fail("the feed address " + options_.feedURL.toString().toStdString() + " is not https", userInitiated);
    QNetworkReply* reply = get(options_.feedURL, options_.maxFeedBytes);
    QPointer<FeedUpdater> self(this);
    connect(reply, &QNetworkReply::finished, this, [self, reply, userInitiated] {
        reply->deleteLater();
        if (self)
            self->feedArrived(reply, userInitiated);
    });
}

QNetworkReply* FeedUpdater::get(const QUrl& url, qint64 limit)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(kTransferTimeLimitMs);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setMaximumRedirectsAllowed(5);
    if (!options_.extraCertificates.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(options_.extraCertificates);
        request.setSslConfiguration(tls);
    }
    QNetworkReply* reply = network_.get(request);
    // A body larger than the limit is cut off at once, announced or not.
    connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, limit] {
        const auto length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > limit) {
            reply->setProperty("tooLarge", true);
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply, limit](qint64 received, qint64) {
        if (received > limit && reply->isRunning()) {
            reply->setProperty("tooLarge", true);
            reply->abort();
        }
    });
    return reply;
}

std::optional<std::vector<FeedItem>> FeedUpdater::parseFeed(const QByteArray& xml)
{
    QXmlStreamReader reader(xml);
    std::vector<FeedItem> items;
    bool sawChannel = false;
    std::optional<FeedItem> item;
    std::string itemVersion;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement()) {
            const auto name = reader.name();
            if (name == QStringLiteral("channel") && reader.namespaceUri().isEmpty()) {
                sawChannel = true;
            } else if (name == QStringLiteral("item") && reader.namespaceUri().isEmpty()) {
                item = FeedItem{};
                itemVersion.clear();
            } else if (item && name == QStringLiteral("version") && reader.namespaceUri() == kSparkle) {
                itemVersion = reader.readElementText().trimmed().toStdString();
            } else if (item && name == QStringLiteral("enclosure") && reader.namespaceUri().isEmpty()) {
                const auto attributes = reader.attributes();
                item->url = QUrl(attributes.value(QStringLiteral("url")).toString(), QUrl::StrictMode);
                item->version =
                    attributes.value(kSparkle, QStringLiteral("version")).toString().trimmed().toStdString();
                item->signature = attributes.value(kSparkle, QStringLiteral("edSignature")).toString().toStdString();
                bool ok = false;
                const qint64 length = attributes.value(QStringLiteral("length")).toLongLong(&ok);
                if (ok && length > 0)
                    item->length = length;
            }
        } else if (reader.isEndElement() && reader.name() == QStringLiteral("item") && item) {
            if (item->version.empty())
                item->version = itemVersion;
            if (!item->version.empty() && item->url.isValid() && !item->signature.empty())
                items.push_back(*item);
            item.reset();
        }
    }
    if (reader.hasError() || !sawChannel)
        return std::nullopt;
    return items;
}

int FeedUpdater::compareVersions(const std::string& a, const std::string& b)
{
    auto parts = [](const std::string& text) {
        std::vector<long long> numbers;
        std::stringstream stream(text);
        std::string part;
        while (std::getline(stream, part, '.')) {
            long long value = 0;
            for (char c : part) {
                if (c < '0' || c > '9')
                    break;
                value = value * 10 + (c - '0');
                if (value > 1'000'000'000)
                    break;
            }
            numbers.push_back(value);
        }
        return numbers;
    };
    auto x = parts(a), y = parts(b);
    for (std::size_t i = 0; i < std::max(x.size(), y.size()); ++i) {
        long long p = i < x.size() ? x[i] : 0, q = i < y.size() ? y[i] : 0;
        if (p != q)
            return p < q ? -1 : 1;
    }
    return 0;
}

bool FeedUpdater::signatureHolds(const QByteArray& data, const std::string& signature, const std::string& publicKey)
{
    auto key = decodeBase64(publicKey);
    auto sig = decodeBase64(signature);
    if (!key || !sig || key->size() != 32 || sig->size() != 64)
        return false;
    EVP_PKEY* pkey = EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                                 reinterpret_cast<const unsigned char*>(key->constData()), 32);
    if (!pkey)
        return false;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    bool holds = context && EVP_DigestVerifyInit(context, nullptr, nullptr, nullptr, pkey) == 1 &&
        EVP_DigestVerify(context, reinterpret_cast<const unsigned char*>(sig->constData()), 64,
                         reinterpret_cast<const unsigned char*>(data.constData()),
                         static_cast<size_t>(data.size())) == 1;
    EVP_MD_CTX_free(context);
    EVP_PKEY_free(pkey);
    return holds;
}

void FeedUpdater::feedArrived(QNetworkReply* reply, bool userInitiated)
{
    if (reply->property("tooLarge").toBool())
        return fail("the feed is larger than " + std::to_string(options_.maxFeedBytes) + " bytes", userInitiated);
    if (reply->error() != QNetworkReply::NoError)
        return fail("the feed could not be read (" + reply->errorString().toStdString() + ")", userInitiated);
    auto items = parseFeed(reply->readAll());
    if (!items)
        return fail("the feed does not parse", userInitiated);
    const FeedItem* newest = nullptr;
    for (const auto& item : *items)
        if (compareVersions(item.version, options_.currentVersion) > 0 &&
            (!newest || compareVersions(item.version, newest->version) > 0))
            newest = &item;
    if (!newest) {
        Log::line("Wickerlane: update check: " + options_.currentVersion + " is the newest version");
        if (userInitiated) {
            AlertRequest alert;
            alert.title = "You're up to date";
            alert.informativeText = "Wickerlane " + options_.currentVersion + " is the newest version.";
            prompts().alert(alert);
        }
        return finish(Outcome::upToDate, "up to date");
    }
    if (newest->version == readyVersion_) {
        Log::line("Wickerlane: update check: " + readyVersion_ + " is ready and waits to be installed");
        return finish(Outcome::ready, "ready " + readyVersion_);
    }
    download(*newest, userInitiated);
}

void FeedUpdater::download(const FeedItem& item, bool userInitiated)
{
    if (item.url.scheme() != QStringLiteral("https"))
        return fail("the update's address " + item.url.toString().toStdString() + " is not https", userInitiated);
    if (item.length && *item.length > options_.maxArchiveBytes)
        return fail("the update is larger than " + std::to_string(options_.maxArchiveBytes) + " bytes", userInitiated);
    // Staged beside the program, so that installing is a rename on one file system.
    const QString pattern = QString::fromStdString((options_.programDirectory / ".wickerlane-update-XXXXXX").string());
    staging_ = std::make_shared<QTemporaryDir>(pattern);
    if (!staging_->isValid())
        return fail("no staging folder in " + options_.programDirectory.string() + " (" +
                        staging_->errorString().toStdString() + ")",
                    userInitiated);
    archive_ = std::make_unique<QFile>(staging_->filePath(QStringLiteral("archive")));
    if (!archive_->open(QIODevice::WriteOnly))
        return fail("the download can't be written (" + archive_->errorString().toStdString() + ")", userInitiated);
    received_ = 0;
    const qint64 limit = item.length ? std::min(*item.length, options_.maxArchiveBytes) : options_.maxArchiveBytes;
    QNetworkReply* reply = get(item.url, limit);
    QPointer<FeedUpdater> self(this);
    connect(reply, &QNetworkReply::readyRead, this, [self, reply, limit] {
        if (!self || !self->archive_)
            return;
        const QByteArray chunk = reply->readAll();
        self->received_ += chunk.size();
        if (self->received_ > limit) {
            reply->setProperty("tooLarge", true);
            reply->abort();
            return;
        }
        if (self->archive_->write(chunk) != chunk.size()) {
            reply->setProperty("writeFailed", true);
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [self, reply, item, userInitiated] {
        reply->deleteLater();
        if (!self)
            return;
        if (reply->property("tooLarge").toBool())
            return self->fail("the update is larger than announced or allowed", userInitiated);
        if (reply->property("writeFailed").toBool())
            return self->fail("the download can't be written", userInitiated);
        if (reply->error() != QNetworkReply::NoError)
            return self->fail("the download failed (" + reply->errorString().toStdString() + ")", userInitiated);
        if (self->archive_) {
            const QByteArray rest = reply->readAll();
            self->received_ += rest.size();
            self->archive_->write(rest);
        }
        self->archiveArrived(item, userInitiated);
    });
}

void FeedUpdater::archiveArrived(const FeedItem& item, bool userInitiated)
{
    if (!archive_ || !archive_->flush())
        return fail("the download can't be written", userInitiated);
    archive_->close();
    if (item.length && received_ != *item.length)
        return fail("the download was cut short (" + std::to_string(received_) + " of " + std::to_string(*item.length) +
                        " bytes)",
                    userInitiated);
    QFile file(archive_->fileName());
    if (!file.open(QIODevice::ReadOnly))
        return fail("the download can't be read", userInitiated);
    const QByteArray bytes = file.readAll();
    file.close();
    if (!signatureHolds(bytes, item.signature, options_.publicKey))
        return fail("the signature of " + versionText(item) + " does not verify", userInitiated);

    // Unpacked into the staging folder; only regular files at its top are taken.
    const QString into = staging_->filePath(QStringLiteral("files"));
    QDir().mkpath(into);
    auto* tar = new QProcess(this);
    tar->setProgram(QStringLiteral("tar"));
    tar->setArguments({QStringLiteral("-xf"), archive_->fileName(), QStringLiteral("-C"), into,
                       QStringLiteral("--no-same-owner"), QStringLiteral("--no-same-permissions")});
    tar->setProcessChannelMode(QProcess::MergedChannels);
    QPointer<FeedUpdater> self(this);
    auto* limit = new QTimer(tar);
    limit->setSingleShot(true);
    connect(limit, &QTimer::timeout, tar, [tar] { tar->kill(); });
    connect(tar, &QProcess::finished, this, [self, tar, item, userInitiated](int code, QProcess::ExitStatus status) {
        tar->deleteLater();
        if (!self)
            return;
        if (status != QProcess::NormalExit || code != 0)
            return self->fail("the archive of " + item.version +
                                  " does not unpack: " + tar->readAll().trimmed().toStdString(),
                              userInitiated);
        self->unpacked(item, userInitiated);
    });
    connect(tar, &QProcess::errorOccurred, this, [self, tar, userInitiated](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        tar->deleteLater();
        if (self)
            self->fail("tar can't be started to unpack the update", userInitiated);
    });
    limit->start(kUnpackTimeLimitMs);
    tar->start();
}

void FeedUpdater::unpacked(const FeedItem& item, bool userInitiated)
{
    const QDir files(staging_->filePath(QStringLiteral("files")));
    bool hasProgram = false;
    for (const auto& entry :
         files.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (entry.isSymLink() || !entry.isFile())
            return fail("the archive of " + item.version + " holds more than plain files", userInitiated);
        if (entry.fileName().toStdString() == options_.programName)
            hasProgram = entry.isExecutable();
    }
    if (!hasProgram)
        return fail("the archive of " + item.version + " has no program " + options_.programName, userInitiated);
    ready(item, userInitiated);
}

void FeedUpdater::ready(const FeedItem& item, bool userInitiated)
{
    Log::line("Wickerlane: update " + item.version + " is downloaded and verified");
    if (userInitiated) {
        AlertRequest alert;
        alert.title = "An update is ready";
        alert.informativeText = "Wickerlane " + item.version +
            " installs and reopens as soon as no one is helping this computer and it is not helping another.";
        prompts().alert(alert);
    }
    auto staging = std::move(staging_);
    archive_.reset();
    const std::string version = item.version;
    readyVersion_ = version;
    finish(Outcome::ready, "ready " + version);
    QPointer<FeedUpdater> self(this);
    std::function<void()> block = [self, staging, version] {
        if (self)
            self->install(staging, version);
    };
    if (!willInstallUpdateOnQuit || !willInstallUpdateOnQuit(block))
        block();
}

bool FeedUpdater::install(const std::shared_ptr<QTemporaryDir>& staging, const std::string& version)
{
    // Every file-system call here takes an error_code: this runs from the event loop,
    // where an exception has nowhere to go.
    namespace fs = std::filesystem;
    const fs::path from = staging->filePath(QStringLiteral("files")).toStdString();
    struct Step {
        fs::path target, backup;
        bool existed = false;
    };
    std::vector<Step> done;
    // What could not be put back, each with where things are now.
    std::vector<std::string> left;
    auto undo = [&] {
        for (auto it = done.rbegin(); it != done.rend(); ++it) {
            std::error_code error;
            if (it->existed) {
                fs::rename(it->backup, it->target, error);
                if (error)
                    left.push_back(it->target.string() + " is the new version's file; the old one is " +
                                   it->backup.string() + " (" + error.message() + ")");
            } else {
                fs::remove(it->target, error);
                if (error)
                    left.push_back(it->target.string() + " is the new version's and could not be removed (" +
                                   error.message() + ")");
            }
        }
    };
    std::error_code listing;
    for (fs::directory_iterator it(from, listing), end; !listing && it != end; it.increment(listing)) {
        const fs::path source = it->path();
        Step step;
        step.target = options_.programDirectory / source.filename();
        step.backup = options_.programDirectory / ("." + source.filename().string() + ".wickerlane-old");
        std::error_code error;
        fs::remove(step.backup, error); // a stale backup; if it stays, the link below says so
        // The old file stays reachable under the backup name until every file is in place.
        step.existed = ::link(step.target.c_str(), step.backup.c_str()) == 0;
        if (!step.existed && errno != ENOENT) {
            const std::string reason = std::strerror(errno);
            undo();
            return abandonInstall(version, "can't keep " + step.target.string() + " aside (" + reason + ")", left);
        }
        fs::rename(source, step.target, error);
        if (error) {
            const std::string reason = error.message();
            if (step.existed) {
                fs::remove(step.backup, error);
                if (error)
                    left.push_back(step.backup.string() + " is a second name of " + step.target.string() +
                                   " and could not be removed (" + error.message() + ")");
            }
            undo();
            return abandonInstall(version, "can't install " + step.target.string() + " (" + reason + ")", left);
        }
        done.push_back(step);
    }
    if (listing) {
        undo();
        return abandonInstall(version, "the unpacked update can't be read (" + listing.message() + ")", left);
    }
    for (const auto& step : done) {
        std::error_code ignored;
        if (step.existed)
            fs::remove(step.backup, ignored);
    }
    lastOutcome_ = "installed " + version;
    lastOutcomeKind_ = Outcome::installed;
    Log::line("Wickerlane: update " + version + " installed");
    if (options_.relaunch)
        options_.relaunch();
    return true;
}

bool FeedUpdater::abandonInstall(const std::string& version, const std::string& reason,
                                 const std::vector<std::string>& left)
{
    if (left.empty()) {
        fail(reason, false);
        return false;
    }
    std::string where;
    for (const auto& line : left)
        where += (where.empty() ? "" : "; ") + line;
    Log::line("Wickerlane: update " + version + " is half installed: " + reason +
              ", and undoing it did not finish: " + where);
    staging_.reset();
    archive_.reset();
    finish(Outcome::undoIncomplete, "half installed: " + reason + "; left: " + where);
    return false;
}

void FeedUpdater::fail(const std::string& reason, bool userInitiated)
{
    Log::line("Wickerlane: update not installed: " + reason);
    staging_.reset();
    archive_.reset();
    if (userInitiated) {
        AlertRequest alert;
        alert.title = "Wickerlane couldn't update";
        alert.informativeText = "The update was not installed: " + reason + ".";
        alert.style = AlertRequest::Style::warning;
        prompts().alert(alert);
    }
    finish(Outcome::notInstalled, reason);
}

void FeedUpdater::finish(Outcome kind, const std::string& outcome)
{
    const bool wasChecking = checking_;
    checking_ = false;
    lastOutcome_ = outcome;
    lastOutcomeKind_ = kind;
    if (!wasChecking)
        return;
    ++checksFinished_;
    if (started_ && (!timer_ || !timer_->isActive()))
        scheduleCheck(options_.checkInterval);
}

} // namespace wl
