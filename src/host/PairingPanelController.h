#pragma once
// The small "Pair a new helper" panel the host shows while it waits for a helper: the
// pairing code as two halves of four characters joined by a hyphen, and Cancel.
// Cancelling (the button or closing the window) runs the cancel action once; close()
// takes the panel away without running it.

#include <QObject>
#include <QPointer>

#include <functional>
#include <string>

#include <QWidget>

namespace wl {

class PairingPanelController : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "Pair a new helper";

    explicit PairingPanelController(QObject* parent = nullptr);
    ~PairingPanelController() override;

    // The panel while shown, else null.
    QWidget* panel() const { return panel_; }

    // Shows the panel for the code (replacing one already shown) and remembers the action.
    void show(const std::string& code, std::function<void()> cancel);
    // Orders the panel out and drops it; the cancel action does not run.
    void close();

    // "ABCDEFGH" → "ABCD-EFGH"; other lengths are shown as they are.
    static std::string displayCode(const std::string& code);

private:
    void cancelled();

    QPointer<QWidget> panel_;
    std::function<void()> cancel_;
};

} // namespace wl
