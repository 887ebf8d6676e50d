#pragma once
// The helper's main window: the viewer's root view in a window of its own, made the
// first time it is shown and kept for the life of the process. While it is open the
// program counts as a regular application; closed, it lives in the tray alone. Closing
// it while connecting to a computer or during a session ends that session. Its frame
// is kept in the settings under "WickerlaneMain" and restored at the next launch.

#include "platform/Defaults.h"
#include "platform/OneShotTimer.h"

#include <QPointer>

#include <memory>
#include <QWidget>

namespace wl {

class HelpRequestAnswers;
class PeopleView;
class Prompts;
class ViewerController;
class ViewerRootView;

class MainWindow final : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kFrameKey = "WickerlaneMain";
    static constexpr int kWidth = 760;
    static constexpr int kHeight = 640;
    static constexpr int kMinimumWidth = 720;
    static constexpr int kMinimumHeight = 480;

    // defaults: where the window's frame is kept; timers: what moves the list's ages on;
    // prompts: the questions the list of people asks.
    MainWindow(std::shared_ptr<Defaults> defaults, TimerFactory timers, Prompts& prompts, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The viewer controller whose root view the window shows (held weakly).
    void setViewer(ViewerController* viewer);
    ViewerController* viewer() const;

    // Shows the window, building it the first time: regular activation policy, raised
    // and activated. Nothing happens without a viewer controller.
    void present();
    // Whether the window was built.
    bool isBuilt() const { return rootView_ != nullptr; }
    ViewerRootView* rootView() const { return rootView_; }
    PeopleView* peopleView() const { return peopleView_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void build();
    void saveFrame();

    std::shared_ptr<Defaults> defaults_;
    TimerFactory timers_;
    QPointer<ViewerController> viewer_;
    Prompts& prompts_;
    std::unique_ptr<HelpRequestAnswers> answers_;
    ViewerRootView* rootView_ = nullptr;
    PeopleView* peopleView_ = nullptr;
    bool restoring_ = false;
};

} // namespace wl
