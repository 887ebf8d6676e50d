#pragma once
// The part of a person card that shows one open help request: its topic and note, the
// button to its pictures (fetched from the asking Mac on demand), the last reply sent,
// for a request for a password the block that sends one securely with the state of each
// password sent, and the row with the reply menu and Done. Quick replies, Done and
// Unsend act at once, without a question.

#include "mail/SentPasswordState.h"
#include "mail/StoredMessage.h"
#include "protocol/PairedDevice.h"

#include <QMenu>
#include <QPointer>
#include <QWidget>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace wl {

class PeopleView;

// The quick replies, in menu order.
const std::vector<std::string>& quickReplies();
// The word for a sent password's state ("Sent", "Delivered", "Opened", "Unsent", "Expired").
std::string sentPasswordWord(SentPasswordState state);

struct SentPasswordLine {
    StoredMessage message;
    SentPasswordState state = SentPasswordState::sent;
    std::string text; // its label (or "Password"), " · ", the word for its state
    bool opened = false;
    bool canUnsend = false; // while sent or delivered
    bool operator==(const SentPasswordLine&) const = default;
};

struct RequestBlockModel {
    StoredMessage request;
    std::optional<std::string> topic;
    std::optional<std::string> note;
    // The pictures button's text, when the request has pictures.
    std::optional<std::string> picturesText;
    bool fetching = false;
    std::optional<std::string> replied; // "You replied: …"
    bool passwordRequest = false;
    std::string askerName;
    std::string statusTitle; // "Send it securely" / "Sent securely"
    std::string explanation;
    std::vector<SentPasswordLine> sent;
    std::string sendTitle; // "Send Password Securely" / "Send Another"
    bool opened = false; // one of the passwords sent was opened: Done turns prominent
    std::string doneTooltip;

    bool operator==(const RequestBlockModel&) const = default;
};

// The block of a request: `devices` are the card's Macs (for the asker's name),
// `sentReplies` the replies this Mac sent to it, `sent` the passwords sent in answer
// with their state now, `fetching` whether its pictures are being fetched.
RequestBlockModel requestBlockModel(const StoredMessage& request, const std::vector<PairedDevice>& devices,
                                    const std::vector<StoredMessage>& sentReplies,
                                    const std::vector<std::pair<StoredMessage, SentPasswordState>>& sent,
                                    bool fetching);

class RequestBlock final : public QWidget {
    Q_OBJECT
public:
    RequestBlock(PeopleView& view, RequestBlockModel model, QWidget* parent = nullptr);

    const RequestBlockModel& model() const { return model_; }
    // The reply menu, made anew (owned by the people view, deleted when closed).
    QMenu* makeReplyMenu();
    QMenu* shownReplyMenu() const { return shownMenu_; }

private:
    QWidget* makeText();
    QWidget* makePasswordBlock();
    QWidget* makeActionRow();

    PeopleView& view_;
    RequestBlockModel model_;
    QPointer<QMenu> shownMenu_;
};

} // namespace wl
