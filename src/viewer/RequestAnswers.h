#pragma once
// The help requests of the Macs this machine helps, as the helper answers them: the
// replies, the "done" notice, the password and message shortcuts, the requests dealt
// with, and the requests' pictures, fetched ahead of time (so that they are there when
// the helper looks) and on demand.

#include "mail/StoredMessage.h"
#include "mail/TransferredFile.h"
#include "platform/Defaults.h"
#include "platform/InfoDictionary.h"
#include "platform/OneShotTimer.h"
#include "viewer/AttachmentFetcher.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace wl {

class MediaEngine;

class Messenger;
class PairedHosts;
class PasswordCenter;
class Prompts;
class SignalTransport;

class RequestAnswers final : public QObject {
    Q_OBJECT
public:
    struct Options {
        TimerFactory timers; // required
        // The settings the resolved requests are kept in (and the fetches' peers read;
        // required).
        std::shared_ptr<Defaults> defaults;
        // Where the service's address comes from (the fetches' links).
        std::shared_ptr<const InfoDictionary> info = std::make_shared<MapInfoDictionary>();
        Prompts* prompts = nullptr; // required
        // The fetches' signalling links (WebSocket channels when empty).
        std::function<std::shared_ptr<SignalTransport>(const std::string& deviceId)> makeTransport;
        std::shared_ptr<DeviceIdentity> identity; // the device the fetches prove to be (required)
    };

    static constexpr const char* kResolvedRequestsKey = "WLResolvedRequests";
    // A help request's pictures are fetched ahead: 3 s after launch, 4 s after its mail
    // arrives, and once more 10 s after a failure.
    static constexpr std::chrono::milliseconds kLaunchPrefetchDelay{3000};
    static constexpr std::chrono::milliseconds kMailPrefetchDelay{4000};
    static constexpr std::chrono::milliseconds kRetryPrefetchDelay{10000};

    RequestAnswers(Messenger& messenger, PasswordCenter& passwords, PairedHosts& hosts, MediaEngine& engine,
                   Options options, QObject* parent = nullptr);
    ~RequestAnswers() override;

    const std::set<std::string>& resolvedRequests() const { return resolvedRequests_; }
    void setResolvedRequests(std::set<std::string> ids);

    // The replies this machine sent to a request.
    std::vector<StoredMessage> sentReplies(const StoredMessage& request) const;
    void sendReply(const StoredMessage& request, const std::string& text);
    // Records the request as dealt with and tells the asking Mac (a `cancel` mail). A
    // notice that can't be delivered is logged and shown.
    void markRequestDone(const StoredMessage& request);
    void sendPassword(const StoredMessage& request);
    void composeReply(const StoredMessage& message);

    const std::map<std::string, std::vector<TransferredFile>>& pictures() const { return pictures_; }
    const std::set<std::string>& fetchingPictures() const { return fetchingPictures_; }
    const std::optional<StoredMessage>& picturesShown() const { return picturesShown_; }
    // The picture sheet closes by setting it back to nullopt.
    void setPicturesShown(std::optional<StoredMessage> request);
    // Shows the request's pictures, fetching them first when needed. When they can't be
    // fetched now (a session is live, the Mac is no longer paired) it says so.
    void showPictures(const StoredMessage& request);
    // Fetches the open requests' pictures ahead, a little after launch.
    void prefetchOpenRequests();
    void schedulePictureFetch(const StoredMessage& request, int attemptsLeft, std::chrono::milliseconds delay);
    void prefetchPictures(const StoredMessage& request, int attemptsLeft);
    void fetchPictures(const StoredMessage& request, bool quietly, std::function<void(bool finished)> retryFetch);
    AttachmentFetcher* fetcher(const std::string& requestId) const;
    // The hub's mail handler.
    void mailReceived(const StoredMessage& message);

    // Whether a session runs (no pictures are fetched meanwhile).
    std::function<bool()> sessionLive;

Q_SIGNALS:
    void changed();

private:
    Prompts& prompts() const;
    TimerFactory timers() const { return options_.timers; }
    void picturesFetched(const StoredMessage& request, const AttachmentFetcher::Result& result,
                         const std::function<void(bool)>& retryFetch);
    void showAlert(const std::string& title, const std::string& text);
    void later(std::chrono::milliseconds delay, std::function<void()> work);
    std::optional<PairedDevice> deviceFor(const StoredMessage& request) const;

    Messenger& messenger_;
    PasswordCenter& passwords_;
    PairedHosts& hosts_;
    MediaEngine& engine_;
    Options options_;
    std::set<std::string> resolvedRequests_;
    std::map<std::string, std::vector<TransferredFile>> pictures_;
    std::set<std::string> fetchingPictures_;
    std::optional<StoredMessage> picturesShown_;
    std::map<std::string, std::unique_ptr<AttachmentFetcher>> fetchers_;
    std::set<std::string> showWhenFetched_;
    std::vector<std::unique_ptr<OneShotTimer>> prefetchTimers_;
};

} // namespace wl
