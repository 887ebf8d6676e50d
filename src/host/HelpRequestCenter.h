#pragma once
// This machine's open help request: which helpers got it (and under which message id)
// and its pictures. Composing and sending come with a later change; the host's session
// already ends the open request, and hands its pictures to the helpers it was sent to.

#include "mail/Messenger.h"
#include "mail/StoredMessage.h"
#include "mail/TransferredFile.h"

#include <QObject>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace wl {

class HelpRequestCenter final : public QObject {
    Q_OBJECT
public:
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

Q_SIGNALS:
    void changed();

private:
    Messenger& messenger_;
    std::function<std::vector<PairedDevice>()> helpers_;
    std::optional<Active> active_;
    std::vector<TransferredFile> pictures_;
};

} // namespace wl
