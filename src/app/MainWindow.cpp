#include "app/MainWindow.h"

#include "style/Palette.h"
#include "app/people/PeopleView.h"
#include "app/people/ViewerRequestAnswers.h"
#include "platform/ActivationPolicy.h"
#include "platform/Defaults.h"
#include "viewer/ViewerController.h"
#include "viewer/ViewerRootView.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

namespace wl {

MainWindow::MainWindow(std::shared_ptr<Defaults> defaults, TimerFactory timers, Prompts& prompts, QWidget* parent)
    : QWidget(parent, Qt::Window), defaults_(std::move(defaults)),
      timers_(requiredTimers(std::move(timers), "MainWindow")), prompts_(prompts)
{
    setWindowTitle(QStringLiteral("Wickerlane"));
}

MainWindow::~MainWindow()
{
    // The list of people goes before the answers it uses.
    delete rootView_;
}

ViewerController* MainWindow::viewer() const
{
    return viewer_;
}

void MainWindow::setViewer(ViewerController* viewer)
{
    viewer_ = viewer;
}

void MainWindow::build()
{
    applyDarkStyle(*this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    answers_ = std::make_unique<ViewerRequestAnswers>(*viewer_);
    PeopleView::Options options;
    options.prompts = &prompts_;
    options.timers = timers_;
    peopleView_ = new PeopleView(*viewer_, *answers_, options);
    rootView_ = new ViewerRootView(*viewer_, peopleView_, this);
    layout->addWidget(rootView_);
    setMinimumSize(kMinimumWidth, kMinimumHeight);

    restoring_ = true;
    bool restored = false;
    if (auto frame = defaults_->data(kFrameKey))
        restored = restoreGeometry(QByteArray::fromStdString(*frame));
    if (!restored) {
        resize(kWidth, kHeight);
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            move(area.center() - QPoint(kWidth / 2, kHeight / 2));
        }
    }
    restoring_ = false;
}

void MainWindow::present()
{
    if (!viewer_)
        return;
    if (!rootView_)
        build();
    setActivationPolicy(ActivationPolicy::regular);
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (viewer_) {
        using K = ViewerController::Phase::Kind;
        const auto kind = viewer_->session().phase().kind;
        if (kind == K::waiting || kind == K::connected)
            viewer_->session().end();
    }
    saveFrame();
    setActivationPolicy(ActivationPolicy::accessory);
    event->accept();
}

void MainWindow::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    saveFrame();
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    saveFrame();
}

void MainWindow::saveFrame()
{
    if (restoring_ || !rootView_ || !isVisible())
        return;
    defaults_->setData(kFrameKey, saveGeometry().toStdString());
}

} // namespace wl
