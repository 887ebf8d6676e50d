#pragma once
// This machine's help request: the draft (up to three pictures) that the ask-for-help
// window composes, the sending of a request to every paired helper, and the open
// request: which helpers got it (and under which message id) and its pictures. The
// host's session ends the open request, and hands its pictures to the helpers it was
// sent to. Main thread only.

#include "mail/HelpTopic.h"
#include "mail/Messenger.h"
#include "mail/StoredMessage.h"
#include "mail/TransferredFile.h"

#include <QObject>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QImage;
class QMimeData;

namespace wl {

class HelpRequestCenter final : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t kMaxPictures = 3;
    static constexpr int kPictureWidth = 2560; // widest picture a request carries
    static constexpr int kPictureQuality = 80; // its JPEG quality (of 100)

    struct Active {
        std::map<std::string, std::string> sent; // helper's device id → the help request's message id
        std::vector<std::string> helperNames;
        std::optional<std::string> topic;
        std::optional<std::string> note;
        Date sentAt = 0;
        int attachments = 0;
        bool operator==(const Active&) const = default;
    };

    HelpRequestCenter(Messenger& messenger, std::function<std::vector<PairedDevice>()> helpers,
                      QObject* parent = nullptr);

    std::function<void()> onSent;
    std::function<void()> onShowPasswords;

    Messenger& messenger() const { return messenger_; }
    std::vector<PairedDevice> helpers() const { return helpers_ ? helpers_() : std::vector<PairedDevice>{}; }
    const std::optional<Active>& active() const { return active_; }
    // The request just sent, with its pictures.
    void setActive(Active active, std::vector<TransferredFile> pictures);
    // Ends the open request (a session started, or the helper marked it done).
    void clearActive();
    // The pictures of the open request for a helper that got it under requestId;
    // nullopt when it did not, or the request has no pictures.
    std::optional<std::vector<TransferredFile>> attachmentsForRequest(const std::string& helperId,
                                                                      const std::string& requestId) const;
    // A helper's `cancel` of the request it got: it was done.
    void handle(const StoredMessage& cancel);

    // Withdraws the open request: a line in the session history, the request cleared at
    // once, then each helper that got it is mailed a `cancel` naming its message.
    void cancel();
    // The replies that came in to the open request, in history order; empty with none open.
    std::vector<StoredMessage> replies() const;
    // The first words of the paired helpers' names: "your helper" with none, "Ann",
    // "Ann and Bo", "Ann, Bo and Cy".
    std::string helperNamesText() const;

    // ---- composing and sending ----
    bool sending() const { return sending_; }
    const std::optional<std::string>& problem() const { return problem_; }
    // The pictures of the request being composed, in the order they were added.
    const std::vector<TransferredFile>& draft() const { return draft_; }
    // Mails a request of the topic, the note (trimmed; left out when empty) and the
    // number of draft pictures to every paired helper in turn; returns at once. With at
    // least one helper reached the request becomes the open one and the draft its
    // pictures; otherwise `problem` says why. Ignored while sending.
    void send(std::optional<HelpTopic> topic, const std::string& note);
    // Incoming passwords that answer the open request, in history order.
    std::vector<StoredMessage> passwordReplies() const;
    // A picture of the main display without this program's windows.
    void takeScreenshot();
    // Asks for picture files (the open panel) and adds them.
    void choosePictures();
    // Takes the files and images of a drop or a paste; true when any item was one.
    bool addDropped(const QMimeData& data);
    void removePicture(const TransferredFile& picture);
    // Reduced to a JPEG at most kPictureWidth wide and appended, unless the draft is full.
    void addPicture(const QImage& image, const std::string& name);
    // Reads a picture file within the decoding limits and adds it under its base name.
    void addPictureFromFile(const std::string& path);
    void clearProblem();

Q_SIGNALS:
    void changed();

private:
    Messenger& messenger_;
    std::function<std::vector<PairedDevice>()> helpers_;
    void setProblem(std::optional<std::string> problem);
    struct Sending;
    void sendNext(std::shared_ptr<Sending> sending);

    std::optional<Active> active_;
    std::vector<TransferredFile> pictures_;
    bool sending_ = false;
    std::optional<std::string> problem_;
    std::vector<TransferredFile> draft_;
};

} // namespace wl
