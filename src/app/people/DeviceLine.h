#pragma once
// One paired Mac in a person's card: its name, a status dot and text, one primary
// action, and a context menu with everything else that can be done with it. Everything
// it shows is derived from the viewer controller's sets, My Macs and the help request
// the card hands it; every action calls the controller, the messenger, the password
// centre or My Macs. Removing asks for no confirmation.

#include "mail/StoredMessage.h"
#include "protocol/Date.h"
#include "protocol/PairedDevice.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QPointer>
#include <QWidget>

#include <optional>
#include <string>
#include <vector>

namespace wl {

class PeopleView;

struct DeviceLineModel {
    // The colour of what the line says: amber while asking, teal online, else secondary.
    enum class Tone { asking, online, offline };
    enum class Primary { willNotify, notifyMe, helpNow, connect, askToHelp };
    enum class Action {
        sendMessage,
        sendPassword,
        removeFromMyMacs,
        setPerson,
        addToMyMacs,
        askToHelp,
        connectWithoutAsking,
        divider,
        remove,
    };
    struct MenuItem {
        Action action = Action::divider;
        std::string title;
        bool enabled = true;
        bool destructive = false;
        bool operator==(const MenuItem&) const = default;
    };

    PairedDevice device;
    std::optional<StoredMessage> request;
    bool online = false;
    bool unattended = false;
    Tone tone = Tone::offline;
    bool dotFilled = false; // a solid dot online, an empty ring offline
    std::string statusText;
    Primary primary = Primary::notifyMe;
    std::string primaryTitle;
    std::string primaryTooltip;
    bool primaryIsPill = false;
    std::vector<MenuItem> menu;

    bool operator==(const DeviceLineModel&) const = default;
};

// The line of a Mac: `request` is the open request it sent that the card shows on it;
// `waitingToJoin` whether My Macs waits for it to accept; `isMine` whether it is
// another Mac of this person's roster.
DeviceLineModel deviceLineModel(const PairedDevice& device, const std::optional<StoredMessage>& request, bool online,
                                bool unattended, bool notifyWhenOnline, bool waitingToJoin, bool isMine, Date now);

class DeviceLine final : public QWidget {
    Q_OBJECT
public:
    DeviceLine(PeopleView& view, DeviceLineModel model, QWidget* parent = nullptr);

    const DeviceLineModel& model() const { return model_; }
    // Shows another state of the same Mac in the widgets the line has.
    void setModel(DeviceLineModel model);
    // The context menu, made anew (owned by the people view, deleted when closed).
    QMenu* makeMenu();
    // The last menu shown, while it exists.
    QMenu* shownMenu() const { return shownMenu_; }
    // Runs one of the menu's actions for a Mac.
    static void perform(PeopleView& view, const PairedDevice& device, DeviceLineModel::Action action);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void runPrimary();
    void present(bool newPrimary);

    PeopleView& view_;
    DeviceLineModel model_;
    QHBoxLayout* row_ = nullptr;
    QLabel* name_ = nullptr;
    QWidget* dot_ = nullptr;
    QLabel* status_ = nullptr;
    QPointer<QPushButton> primary_;
    QPointer<QMenu> shownMenu_;
};

} // namespace wl
