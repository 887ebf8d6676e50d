#pragma once
// One card of the people list: a person (or "My Macs") with their paired Macs and the
// open help requests those Macs sent. A header that names them and sums up their state,
// the request block of their first open request, a line per shown Mac, and, while they
// ask and have several Macs, a button that shows or hides the others. Collapsed, a card
// shows only the Macs of its request; expanded, all of them.

#include "app/people/DeviceLine.h"
#include "app/people/RequestBlock.h"
#include "mail/StoredMessage.h"
#include "protocol/Date.h"
#include "protocol/PairedDevice.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPointer>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <QWidget>

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace wl {

class Divider;
class PeopleView;
class SymbolView;

// One person group with their open requests, in the messenger's order.
struct PersonGroup {
    std::string name;
    std::vector<PairedDevice> devices;
    std::vector<StoredMessage> requests;
    bool operator==(const PersonGroup&) const = default;
};

struct PersonCardModel {
    struct Row {
        PairedDevice device;
        std::optional<StoredMessage> request; // its own first open request
        bool operator==(const Row&) const = default;
    };

    std::string name;
    std::optional<StoredMessage> request; // the card's request: the first open one
    bool expanded = false;
    bool avatarIsMyMacs = false;
    std::string avatarText; // the name's first character, upper-cased
    std::string subtitle;
    std::string accessibilityHint;
    std::vector<Row> rows; // the Macs shown
    std::optional<std::string> showMore; // the show-more button's title

    bool asking() const { return request.has_value(); }
    bool operator==(const PersonCardModel&) const = default;
};

PersonCardModel personCardModel(const PersonGroup& group, const std::set<std::string>& onlineIDs, bool expanded,
                                Date now);
// The subtitle of a card without a request: "3 devices · 1 online".
std::string deviceCountsText(const std::vector<PairedDevice>& devices, const std::set<std::string>& onlineIDs);

// What a card shows: its own model, the block of its request, a line per shown Mac.
struct PersonCardScene {
    PersonCardModel card;
    std::optional<RequestBlockModel> block;
    std::vector<DeviceLineModel> lines;
    bool operator==(const PersonCardScene&) const = default;
};

// The card's header: a button over its whole width that expands or collapses it.
class PersonCardHeader final : public QAbstractButton {
public:
    PersonCardHeader(const PersonCardModel& model, QWidget* parent = nullptr);
    void setModel(const PersonCardModel& model);
    QLabel* subtitle() const { return subtitle_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override { }

private:
    // Turns the chevron to the angle with the card's own 0.15-s ease-out.
    void turnChevron(double degrees);

    QWidget* avatar_ = nullptr;
    QLabel* title_ = nullptr;
    QLabel* subtitle_ = nullptr;
    SymbolView* chevron_ = nullptr;
    QPointer<QVariantAnimation> chevronTurn_;
};

class PersonCard final : public QWidget {
    Q_OBJECT
public:
    PersonCard(PeopleView& view, PersonCardScene scene, QWidget* parent = nullptr);

    const PersonCardScene& scene() const { return scene_; }
    // Shows another state of the same person: the header, the block and the lines of Macs
    // it already shows change in place; lines come and go with their Macs.
    void setScene(PersonCardScene scene);
    // Grows or shrinks from the height the card had before it was expanded or collapsed
    // to its own, over 0.15 s, easing out.
    void animateHeightFrom(int height);
    static constexpr int kExpandMilliseconds = 150;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void place(PersonCardScene scene);
    void toggle();

    PeopleView& view_;
    PersonCardScene scene_;
    QVBoxLayout* stack_ = nullptr;
    PersonCardHeader* header_ = nullptr;
    QPointer<RequestBlock> block_;
    std::vector<QPointer<DeviceLine>> lines_;
    std::vector<QPointer<Divider>> dividers_;
    QPointer<QWidget> showMore_;
};

} // namespace wl
