#pragma once
// This machine's help request: the user picks a topic, writes a note and adds up to
// three pictures, and the request goes as sealed mail to every paired helper, one after
// another. The open request is kept in the settings (WLActiveHelpRequest) and its
// pictures in "Request Pictures" under the data folder, so that both survive a restart
// for 48 hours. It ends when the user cancels it (the helpers are told), when a helper
// marks it done, or when any helper's session is accepted.
//
// The pictures are never mailed: a helper the request was sent to fetches them over a
// file link, and only for that request (attachmentsForRequest, asked by the host's
// handshake).
//
// Pictures come from a screenshot of the main display (without this program's own
// windows), from files, and from drops and pastes; each is read with bounded memory and
// reduced to a JPEG at most 2560 pixels wide as it is added. What can't be added says so
// in `problem`, as does an open request whose pictures can't be written to the folder.
// The screenshot is taken on a thread the center owns and joins.
//
// Main thread only. One lives as long as the process; the host controller makes it.

#include "mail/Messenger.h"
#include "mail/StoredMessage.h"
#include "mail/TransferredFile.h"
#include "mail/HelpTopic.h"
#include "platform/Defaults.h"
#include "platform/Displays.h"
#include "platform/ScreenSource.h"
#include "protocol/Date.h"

#include <QObject>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

class QImage;
class QMimeData;

namespace wl {

class Prompts;

class HelpRequestCenter final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool sending READ sending NOTIFY changed)
    Q_PROPERTY(bool hasActive READ hasActive NOTIFY changed)
public:
    // The open request.
    struct Active {
        std::map<std::string, std::string> sent; // helper's device id → the help request's message id
        std::vector<std::string> helperNames; // in the order of the helper list
        std::optional<std::string> topic;
        std::optional<std::string> note;
        Date sentAt = 0;
        int attachments = 0;
        bool operator==(const Active&) const = default;

        nlohmann::json toJson() const;
        static std::optional<Active> fromJson(const nlohmann::json& json);
    };

    struct Options {
        // The questions it asks (the open panel; required).
        Prompts* prompts = nullptr;
        // The displays: the screenshot is of the main one.
        std::shared_ptr<Displays> displays = Displays::none();
        // Where the open request's pictures live; picturesFolder() when empty.
        std::filesystem::path picturesFolder;
        // The screenshot of the main display, given the windows to leave out; the real
        // grab when empty. Runs off the main thread.
        std::function<std::optional<QImage>(const std::vector<std::uint64_t>& excluded, std::string& error)> screenshot;
        // The screen the real grab reads (a new source for each screenshot's thread).
        ScreenSources screens;
        // The settings the open request is kept in (required).
        std::shared_ptr<Defaults> defaults;
    };

    static constexpr const char* kActiveKey = "WLActiveHelpRequest";
    static constexpr std::size_t kMaxPictures = 3;
    static constexpr double kLifetime = 172800; // 48 hours
    // The problem when the open request's pictures can't be written to the folder.
    static constexpr const char* kPicturesNotKept =
        "The pictures couldn't be saved on this computer, so helpers can see them only until Wickerlane quits.";

    HelpRequestCenter(Messenger& messenger, std::function<std::vector<PairedDevice>()> helpers, Options options,
                      QObject* parent = nullptr);
    ~HelpRequestCenter() override;

    // Called after a request has been recorded (the host controller turns help requests on).
    std::function<void()> onSent;
    // Called by the window to show the Passwords panel.
    std::function<void()> onShowPasswords;

    // ---- published state ----
    const std::optional<Active>& active() const { return active_; }
    bool hasActive() const { return active_.has_value(); }
    bool sending() const { return sending_; }
    const std::optional<std::string>& problem() const { return problem_; }
    const std::vector<TransferredFile>& draft() const { return draft_; }
    const std::vector<TransferredFile>& activeFiles() const { return activeFiles_; }

    Messenger& messenger() const { return messenger_; }
    std::vector<PairedDevice> helpers() const { return helpers_ ? helpers_() : std::vector<PairedDevice>{}; }

    // ---- the request ----
    // Sends a request of the topic, the note and the draft's pictures to every paired
    // helper; returns at once. Ignored while a request is being sent.
    void send(std::optional<HelpTopic> topic, const std::string& note);
    // Withdraws the open request from every helper that got it and is still paired, and
    // ends it. A withdrawal that can't be delivered is logged and named in `problem`.
    void cancel();
    // An incoming `cancel` mail: when it answers the open request, a helper marked it done.
    void helperMarkedDone(const StoredMessage& message);
    // Ends the open request without mail (a session was accepted).
    void clearActive();
    // Incoming replies, and incoming passwords, that answer the open request.
    std::vector<StoredMessage> replies() const;
    std::vector<StoredMessage> passwordReplies() const;
    // The paired helpers' first names: "your helper", "Ann", "Ann and Bo", "Ann, Bo and Cy".
    std::string helperNamesText() const;
    void clearProblem();

    // ---- pictures ----
    // Adds a screenshot of the main display; it arrives later.
    void takeScreenshot();
    // Asks for picture files and adds them.
    void choosePictures();
    // Adds the files and images of a drop or a paste; true when any of it was taken.
    bool addDropped(const QMimeData& data);
    void removePicture(const TransferredFile& picture);
    // Reduces the image and appends it to the draft (nothing when the draft is full).
    void addPicture(const QImage& image, const std::string& name);
    // Reads an image file and adds it under its name without the extension.
    void addPictureFromFile(const std::string& path);
    // The open request's pictures for the helper and request it was sent under; nullopt
    // when it wasn't, or the request has no pictures.
    std::optional<std::vector<TransferredFile>> attachmentsForRequest(
        const std::string& helperId, const std::optional<std::string>& requestId) const;
    // The pictures stored in the folder, by file name.
    std::vector<TransferredFile> loadPictures() const;
    void deletePictures();
    // "Wickerlane Host/Request Pictures" under $XDG_DATA_HOME (~/.local/share).
    static std::filesystem::path picturesFolder();
    const std::filesystem::path& folder() const { return folder_; }

    // Tests and fixtures: an open request with its pictures, as if just sent (stored, and
    // its pictures written to the folder).
    void setActive(Active active, std::vector<TransferredFile> pictures);

Q_SIGNALS:
    void changed();

private:
    void restore();
    void saveActive();
    // The message ids of the open request, one for each helper that got it.
    std::set<std::string> requestIds() const;
    struct Sending;
    void sendNext(std::shared_ptr<Sending> sending);
    void finishSending(const std::shared_ptr<Sending>& sending);
    void storePictures(const std::vector<TransferredFile>& pictures);
    void setProblem(std::optional<std::string> problem);
    void appendPicture(std::string jpeg, const std::string& name);
    Prompts& prompts() const;

    Messenger& messenger_;
    std::function<std::vector<PairedDevice>()> helpers_;
    Options options_;
    std::filesystem::path folder_;
    std::optional<Active> active_;
    bool sending_ = false;
    std::optional<std::string> problem_;
    std::vector<TransferredFile> draft_;
    std::vector<TransferredFile> activeFiles_;
    bool screenshotRunning_ = false;
    std::thread screenshotThread_; // the last screenshot's; joined before the next and on destruction
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace wl
