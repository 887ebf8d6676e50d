#pragma once
// The helper's main window: the viewer's root view in a window of its own. Closing it
// ends a session in progress (the program stays in the tray); a second launch or the
// tray shows it again.

#include <QPointer>
#include <QWidget>

namespace wl {

class ViewerController;
class ViewerRootView;

class MainWindow final : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(ViewerController& controller, QWidget* parent = nullptr);

    ViewerRootView* rootView() const { return rootView_; }
    // Shows, raises and activates the window.
    void present();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QPointer<ViewerController> controller_;
    ViewerRootView* rootView_ = nullptr;
};

} // namespace wl
