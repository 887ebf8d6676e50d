// The viewer controller: construction and the wiring of its parts.
#include "viewer/ViewerController.h"

#include "identity/DeviceIdentity.h"
#include "mail/AppServices.h"
#include "mail/MyMacs.h"
#include "mail/StoredMessage.h"
#include "platform/Required.h"
#include "protocol/MailContent.h"

#include <QPointer>

namespace wl {

ViewerController::ViewerController(AppServices& services, MediaEngine& engine, Options options, QObject* parent)
    : QObject(parent), services_(services), messenger_(*services.messenger), passwords_(*services.passwords),
      keyboardLayout_(options.platform.keyboardLayout)
{
    MyMacs& myMacs = *services.myMacs;
    required(options.identity, "ViewerController", "an identity");
    const TimerFactory timers = requiredTimers(options.platform.timers, "ViewerController");
    Prompts* prompts = required(options.platform.prompts, "ViewerController", "prompts").get();
    Notifier* notifier = required(options.platform.notifier, "ViewerController", "a notifier").get();
    OwnerCheck* ownerCheck = required(options.platform.ownerCheck, "ViewerController", "an owner check").get();
    const std::shared_ptr<Defaults>& defaults =
        required(options.platform.defaults, "ViewerController", "a settings store");
    const std::shared_ptr<InfoDictionary>& info = options.platform.info;
    hosts_ = std::make_unique<PairedHosts>(
        myMacs, PairedHosts::Options{timers, defaults, info, prompts, notifier, options.isOnline, options.identity});
    answers_ = std::make_unique<RequestAnswers>(
        messenger_, passwords_, *hosts_, engine,
        RequestAnswers::Options{timers, defaults, info, prompts, options.makeTransport, options.identity});
    session_ = std::make_unique<ViewerSession>(
        ViewerSession::Parts{services_, messenger_, *hosts_, *answers_, engine, options.identity},
        ViewerSession::Options{timers, defaults, info, prompts, ownerCheck, options.makeTransport, options.makesPeers});
    QObject::connect(hosts_.get(), &PairedHosts::changed, this, &ViewerController::changed);
    QObject::connect(answers_.get(), &RequestAnswers::changed, this, &ViewerController::changed);
    QObject::connect(session_.get(), &ViewerSession::changed, this, &ViewerController::changed);
    QPointer<ViewerController> self(this);
    answers_->sessionLive = [self] {
        return self && self->session_->phase().kind == ViewerSession::Phase::Kind::connected;
    };

    services_.contactLists.push_back([self] { return self ? self->hosts_->devices() : std::vector<PairedDevice>{}; });
    hosts_->watchPresence();
    services_.mailHandlers.push_back([self](const StoredMessage& message) {
        if (self)
            self->answers_->mailReceived(message);
    });
    services_.quietHandlers.push_back([self](const MailContent& content, const PairedDevice& sender) {
        if (self)
            self->hosts_->handleAccessNotice(content, sender);
    });
    QObject::connect(&myMacs, &MyMacs::changed, this, [this] { Q_EMIT changed(); });
    myMacs.onChange.push_back([self](const std::vector<PairedDevice>& roster, const std::vector<std::string>& removed) {
        if (self)
            self->hosts_->myMacsRosterChanged(roster, removed);
    });
    // The open requests' pictures, fetched ahead so that they are there when looked at.
    answers_->prefetchOpenRequests();
}

ViewerController::~ViewerController()
{
    answers_->sessionLive = nullptr;
    session_.reset();
    answers_.reset();
    hosts_.reset();
}

void ViewerController::backToDevices()
{
    session_->showDevices();
    hosts_->refreshStatus();
}

} // namespace wl
