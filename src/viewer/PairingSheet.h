#pragma once
// The sheet in the helper's window that pairs a new host: the code form, then
// "Connecting…", the comparison number to check with the other Mac, and the end
// (paired, or the reason it failed, with Try Again). It shows the controller's pairing
// state and calls its pair and cancelPairing. Closing it, however it is dismissed,
// ends a pairing still waiting (the presenter calls cancelPairing on finished()).

#include <QDialog>
#include <QPointer>

class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;

namespace wl {

class ViewerController;

class PairingSheet final : public QDialog {
    Q_OBJECT
public:
    static constexpr int kWidth = 440;
    static constexpr const char* kCodeErrorText =
        "That code doesn't look right. It's 8 letters and numbers, shown on the other Mac.";

    explicit PairingSheet(ViewerController& controller, QWidget* parent = nullptr);

    // The Pair button.
    void pairAction();
    bool showsCodeError() const { return showCodeError_; }
    QLineEdit* codeField() const { return code_; }
    QLineEdit* nameField() const { return name_; }
    // The page shown now: "idle", "connecting", "verify", "paired" or "failed".
    QString pageName() const;

private:
    void refresh();
    // Return presses the primary button of the page shown, and only that one.
    void updateDefaultButton();
    QWidget* makeIdlePage();
    QWidget* makeConnectingPage();
    QWidget* makeVerifyPage();
    QWidget* makePairedPage();
    QWidget* makeFailedPage();

    QPointer<ViewerController> controller_;
    QStackedWidget* pages_ = nullptr;
    QLineEdit* code_ = nullptr;
    QLineEdit* name_ = nullptr;
    QLabel* codeError_ = nullptr;
    QLabel* verifyText_ = nullptr;
    QLabel* number_ = nullptr;
    QLabel* pairedText_ = nullptr;
    QLabel* failedText_ = nullptr;
    QPushButton* pairButton_ = nullptr;
    QPushButton* doneButton_ = nullptr;
    QPushButton* againButton_ = nullptr;
    bool showCodeError_ = false;
};

} // namespace wl
