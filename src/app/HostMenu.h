#pragma once
// The host's menu, which drops down from the tray icon: the whole of the host side's
// interface. It tells whether this computer can be reached, warns about a missing
// permission, asks for help and shows the request in flight, turns help requests off
// and on, stops a session, pairs a new helper, lists the paired helpers (each with a
// submenu), opens the password windows, lists recent mail, and holds the usual program
// items.
//
// The menu's items are made once; whenever the host controller, its help-request centre,
// the messenger, My Macs or the password centre publishes a change, the items change
// their texts, whether they show and whether they can be chosen in place (on the next
// turn of the event loop, so that a burst of changes updates the menu once). Every item
// calls one operation of those objects or of the shell. Names, replies and messages from
// another machine end in "…" at the width a menu carries; such an item says them whole
// in its tool tip.

#include "mail/StoredMessage.h"
#include "protocol/PairedDevice.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QMenu;

namespace wl {

class HelpRequestCenter;
class HostController;
class Messenger;

class HostMenu final : public QObject {
    Q_OBJECT
public:
    // What the menu asks of the shell.
    struct Actions {
        std::function<void()> openMainWindow;
        // Whether updates are configured: "Check for Updates…" shows only then.
        std::function<bool()> hasUpdater;
        std::function<void()> checkForUpdates;
        // Ends the process at once, sending nothing.
        std::function<void()> quit;
    };

    static constexpr std::size_t kMessageRows = 8;

    HostMenu(HostController& controller, Messenger& messenger, HelpRequestCenter& helpRequests, Actions actions,
             QObject* parent = nullptr);
    ~HostMenu() override;

    QMenu* menu() const { return menu_.get(); }
    // Brings the items up to date now (they follow any change by themselves on the next
    // turn).
    void refresh();

    // ---- the actions ----
    void openMainWindow();
    void openScreenRecordingSettings();
    void openAccessibilitySettings();
    void askForHelp();
    void cancelHelpRequest();
    void turnOffHelpRequests();
    void turnOnHelpRequests();
    void stopSession();
    void pairNewHelper();
    void showPasswords();
    void toggleOpenAtLogin();
    void showSessionHistory();
    void checkForUpdates();
    void quit();
    // of a helper's submenu
    void sendMessage(const PairedDevice& helper);
    void sendPassword(const PairedDevice& helper);
    void allowUnattendedAccess(const PairedDevice& helper);
    void turnOffUnattendedAccess(const PairedDevice& helper);
    void removeHelper(const PairedDevice& helper);
    // of the messages submenu
    void replyToMessage(const StoredMessage& message);

    // The newest 8 of the given messages, newest first.
    static std::vector<StoredMessage> newestMessages(const std::vector<StoredMessage>& messages);

    // Text as a menu shows it: "&" is not a mnemonic.
    static QString menuText(const std::string& text);

Q_SIGNALS:
    // After every update of the items.
    void refreshed();

private:
    // A helper's submenu, "<name>[ · my Mac][ · unattended]", made when a helper first
    // needs it and kept (hidden while fewer helpers are paired).
    struct HelperMenu {
        QMenu* menu = nullptr;
        PairedDevice helper; // the record its items act on
        QAction* paired = nullptr;
        QAction* allow = nullptr;
        QAction* locked = nullptr;
        QAction* reenable = nullptr;
        QAction* withoutAsking = nullptr;
        QAction* turnOff = nullptr;
        QAction* mine = nullptr;
        QAction* remove = nullptr;
    };
    // A row of the messages submenu and the message it shows.
    struct MessageRow {
        QAction* action = nullptr;
        StoredMessage message;
    };

    void scheduleRefresh();
    QAction* addText(QMenu& menu);
    QAction* addButton(QMenu& menu, const std::string& text, std::function<void()> action);
    HelperMenu& helperMenu(std::size_t index);
    void showHelper(HelperMenu& menu, const PairedDevice& helper);
    void showMessage(MessageRow& row, const StoredMessage& message);

    QPointer<HostController> controller_;
    QPointer<Messenger> messenger_;
    QPointer<HelpRequestCenter> helpRequests_;
    Actions actions_;
    std::unique_ptr<QMenu> menu_;
    QAction* status_ = nullptr;
    QAction* fixScreenRecording_ = nullptr;
    QAction* fixAccessibility_ = nullptr;
    QAction* requestLatest_ = nullptr;
    QAction* requestAsked_ = nullptr;
    QAction* cancelRequest_ = nullptr;
    QAction* askForHelp_ = nullptr;
    QAction* turnOff_ = nullptr;
    QAction* turnOn_ = nullptr;
    QAction* stopSession_ = nullptr;
    QAction* pairNewHelper_ = nullptr;
    QAction* noHelpers_ = nullptr;
    QAction* helpersTitle_ = nullptr;
    std::vector<std::unique_ptr<HelperMenu>> helperMenus_;
    QAction* passwords_ = nullptr;
    QMenu* messages_ = nullptr;
    std::vector<MessageRow> messageRows_;
    QAction* openAtLogin_ = nullptr;
    QAction* checkForUpdates_ = nullptr;
    bool refreshQueued_ = false;
};

} // namespace wl
