#pragma once
// The helper's home screen in the main window: one card per person whose Macs this Mac
// helps (people asking for help first), a banner when several people ask at once, the
// passwords row, the last messages, and "Pair a Mac…". It keeps no model: at every
// change of the paired hosts, the request answers, the messenger, the password centre
// or My Macs it derives the people, their open help requests and their order again,
// with ages from its clock, and shows what differs in the widgets it has: cards are
// kept by person and lines by Mac, made for newcomers and dropped for those gone; a
// change that changes nothing shown touches no widget. A session's own changes show
// nothing here and do not reach it. Hidden inside its window it does nothing and
// catches up when shown. Between changes a timer moves the ages on in place as the
// minutes pass. Its own state is which cards are expanded. It presents the pairing
// sheet and, while a request's pictures are to be shown, the pictures sheet.

#include "app/people/MessagesCard.h"
#include "app/people/PersonCard.h"
#include "app/people/PicturesSheet.h"
#include "mail/StoredMessage.h"
#include "mail/TransferredFile.h"
#include "platform/OneShotTimer.h"
#include "protocol/Date.h"
#include "protocol/PairedDevice.h"
#include "viewer/PairingSheet.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

class QLabel;
class QPushButton;
class QScrollArea;
class QShowEvent;
class QVBoxLayout;

namespace wl {

class HelpRequestAnswers;
class Messenger;
class MyMacs;
class PasswordCenter;
class Prompts;
class ViewerController;

// The short age of a date: "just now" under a minute (and for dates ahead), whole
// minutes with " min ago" under an hour, whole hours with " h ago" under a day, else
// the date with its time.
std::string relativeAge(Date date, Date now);

// What the column shows, top to bottom.
struct PeopleLayout {
    bool emptyNote = false; // no paired Macs
    int askingCount = 0; // people with at least one open request
    bool banner = false; // two or more of them
    std::vector<PersonGroup> cards; // in list order, each with its open requests
    bool passwordsRow = false;
    std::size_t receivedPasswords = 0;
    std::vector<StoredMessage> recentMessages; // the last five plain messages, in stored order

    bool operator==(const PeopleLayout&) const = default;
};

// `groups` as the controller groups its Macs, `openRequests` newest first, `messages`
// the whole history.
PeopleLayout peopleLayout(const std::vector<std::pair<std::string, std::vector<PairedDevice>>>& groups,
                          const std::vector<StoredMessage>& openRequests, bool noDevices, std::size_t receivedPasswords,
                          std::size_t sentPasswords, const std::vector<StoredMessage>& messages);

// The banner's text.
std::string askingBannerText(int people);

struct PeopleViewOptions {
    std::function<Date()> clock; // dateNow when empty
    TimerFactory timers; // what moves the ages on (required)
    Prompts* prompts = nullptr; // required
    // Opens a picture window (PictureWindowController::show when empty), at least as
    // large as shownAt.
    std::function<void(const TransferredFile&, const QString& title, QSize shownAt)> openPicture;
};

class PeopleView final : public QWidget {
    Q_OBJECT
public:
    using Options = PeopleViewOptions;

    static constexpr int kColumnWidth = 560;

    PeopleView(ViewerController& controller, HelpRequestAnswers& answers, Options options = {},
               QWidget* parent = nullptr);
    ~PeopleView() override;

    ViewerController& controller() const { return controller_; }
    Messenger& messenger() const;
    PasswordCenter& passwords() const;
    MyMacs& myMacs() const;
    HelpRequestAnswers& answers() const { return answers_; }
    Prompts& prompts() const;
    Date now() const;
    void openPicture(const TransferredFile& file, const QString& title, QSize shownAt = {}) const;

    // Brings the list up to the current state now (every observed change does, once the
    // list shows).
    void refresh();
    const PeopleLayout& layout() const { return layout_; }

    // Keeps the label saying prefix + relativeAge(date, now) + suffix as the clock moves,
    // without drawing the list again (until stopAge or the label's end).
    void showAge(QLabel* label, std::string prefix, Date date, std::string suffix = {});
    void stopAge(QLabel* label);

    const std::set<std::string>& expanded() const { return expanded_; }
    void setExpanded(const std::string& name, bool expanded);
    void toggleExpanded(const std::string& name);

    // The sheet that pairs a new Mac; its going away ends a pairing still waiting.
    void showPairingSheet();
    PairingSheet* pairingSheet() const { return pairingSheet_; }
    PicturesSheet* picturesSheet() const { return picturesSheet_; }

    // The card of a person group, while shown.
    PersonCard* card(const std::string& name) const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void modelChanged();
    void syncPicturesSheet();
    void updateAges();
    void scheduleAges();
    // Hidden inside its window: changes wait until it shows again.
    bool offScreen() const;

    ViewerController& controller_;
    HelpRequestAnswers& answers_;
    Options options_;
    std::set<std::string> expanded_;
    PeopleLayout layout_;
    QScrollArea* scroll_ = nullptr;
    QWidget* column_ = nullptr;
    QVBoxLayout* stack_ = nullptr;
    QPointer<QWidget> emptyNote_;
    QPointer<QWidget> banner_;
    QLabel* bannerText_ = nullptr; // the banner's
    QPushButton* pairButton_ = nullptr;
    std::map<std::string, QPointer<PersonCard>> cards_;
    QPointer<QWidget> passwordsRow_;
    std::size_t shownPasswords_ = 0;
    QPointer<MessagesCard> messagesCard_;
    std::vector<QWidget*> shownOrder_; // the column's parts as laid out, above "Pair a Mac…"
    bool stale_ = false;
    QPointer<PairingSheet> pairingSheet_;
    QPointer<PicturesSheet> picturesSheet_;
    struct AgeText {
        QPointer<QLabel> label;
        std::string prefix;
        Date date;
        std::string suffix;
    };
    std::vector<AgeText> ages_;
    std::unique_ptr<OneShotTimer> ageTimer_;
};

} // namespace wl
