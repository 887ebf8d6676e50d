#include "app/MainWindow.h"

#include "viewer/ViewerController.h"
#include "viewer/ViewerRootView.h"

#include <QCloseEvent>
#include <QVBoxLayout>

namespace wl {

MainWindow::MainWindow(ViewerController& controller, QWidget* parent) : QWidget(parent), controller_(&controller)
{
    setWindowTitle(QStringLiteral("Wickerlane"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    rootView_ = new ViewerRootView(controller, nullptr, this);
    layout->addWidget(rootView_);
    resize(960, 640);
}

void MainWindow::present()
{
    show();
    raise();
    activateWindow();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (controller_ && controller_->isHelping())
        controller_->end();
    event->accept();
}

} // namespace wl
