#pragma once
// The owner check's password dialog: the reason, a password field, Allow and Cancel. It
// stays open while PAM judges the password; a wrong one is said in the dialog and another
// can be typed, as in the desktop's own authentication dialogs.

#include <QDialog>

#include <functional>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace wl {

class OwnerPasswordDialog final : public QDialog {
public:
    explicit OwnerPasswordDialog(const std::string& reason, QWidget* parent = nullptr);

    // Allow was pressed (or Return) with this password; the dialog waits for a verdict.
    std::function<void(const std::string& password)> onAllow;
    // Cancel was pressed, Escape typed or the window closed.
    std::function<void()> onCancel;

    // While PAM judges: the field and Allow are disabled; Cancel still works.
    void showChecking();
    // "That password isn't right. Try again.", the field cleared, enabled and focused.
    void showWrongPassword();

    void reject() override;

private:
    void allow();

    QLineEdit* field_;
    QLabel* problem_;
    QPushButton* allowButton_;
    bool cancelled_ = false;
};

} // namespace wl
