#pragma once
// The host's menu, which drops down from the tray icon: the whole of the host side's
// interface. It tells whether this computer can be reached, warns about a missing
// permission, asks for help and shows the request in flight, turns help requests off
// and on, stops a session, pairs a new helper, lists the paired helpers (each with a
// submenu), opens the password windows, lists recent mail, and holds the usual program
// items.
//
// The menu keeps no state: it is built again from the host controller, its help-request
// centre, the messenger and My Macs whenever one of them publishes a change (on the next
// turn of the event loop, so an item's action never deletes the item it runs from), and
// every item calls one operation of those objects or of the shell.

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
    // Builds the menu now (it is built on the next turn after any change by itself).
    void rebuild();

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

    // ---- the builders ----
    // A helper's submenu, its title "<name>[ · my Mac][ · unattended]".
    QMenu* helperSubmenu(const PairedDevice& helper, QMenu& parent);
    void helperMenuItems(QMenu& submenu, const PairedDevice& helper);
    // The newest 8 of the given messages, newest first.
    void messageRows(QMenu& submenu, const std::vector<StoredMessage>& messages);
    void messageRow(QMenu& submenu, const StoredMessage& message);

    // Text as a menu shows it: "&" is not a mnemonic.
    static QString menuText(const std::string& text);

Q_SIGNALS:
    // After every build.
    void rebuilt();

private:
    void scheduleRebuild();
    QAction* addText(QMenu& menu, const std::string& text);
    QAction* addButton(QMenu& menu, const std::string& text, std::function<void()> action);

    QPointer<HostController> controller_;
    QPointer<Messenger> messenger_;
    QPointer<HelpRequestCenter> helpRequests_;
    Actions actions_;
    std::unique_ptr<QMenu> menu_;
    std::vector<QPointer<QMenu>> submenus_;
    bool rebuildQueued_ = false;
};

} // namespace wl
