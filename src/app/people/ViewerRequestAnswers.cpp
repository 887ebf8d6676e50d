#include "app/people/ViewerRequestAnswers.h"

#include "viewer/ViewerController.h"

namespace wl {

ViewerRequestAnswers::ViewerRequestAnswers(ViewerController& controller) : controller_(controller) { }

const std::map<std::string, std::vector<TransferredFile>>& ViewerRequestAnswers::pictures() const
{
    return controller_.answers().pictures();
}

const std::set<std::string>& ViewerRequestAnswers::fetchingPictures() const
{
    return controller_.answers().fetchingPictures();
}

const std::optional<StoredMessage>& ViewerRequestAnswers::picturesShown() const
{
    return controller_.answers().picturesShown();
}

void ViewerRequestAnswers::setPicturesShown(std::optional<StoredMessage> request)
{
    controller_.answers().setPicturesShown(std::move(request));
}

std::vector<StoredMessage> ViewerRequestAnswers::sentReplies(const StoredMessage& request) const
{
    return controller_.answers().sentReplies(request);
}

void ViewerRequestAnswers::sendReply(const StoredMessage& request, const std::string& text)
{
    controller_.answers().sendReply(request, text);
}

void ViewerRequestAnswers::markRequestDone(const StoredMessage& request)
{
    controller_.answers().markRequestDone(request);
}

void ViewerRequestAnswers::sendPassword(const StoredMessage& request)
{
    controller_.answers().sendPassword(request);
}

void ViewerRequestAnswers::composeReply(const StoredMessage& message)
{
    controller_.answers().composeReply(message);
}

void ViewerRequestAnswers::showPictures(const StoredMessage& request)
{
    controller_.answers().showPictures(request);
}

} // namespace wl
