#include "app/people/ViewerRequestAnswers.h"

#include "viewer/ViewerController.h"

namespace wl {

ViewerRequestAnswers::ViewerRequestAnswers(ViewerController& controller) : controller_(controller) { }

const std::map<std::string, std::vector<TransferredFile>>& ViewerRequestAnswers::pictures() const
{
    return controller_.pictures();
}

const std::set<std::string>& ViewerRequestAnswers::fetchingPictures() const
{
    return controller_.fetchingPictures();
}

const std::optional<StoredMessage>& ViewerRequestAnswers::picturesShown() const
{
    return controller_.picturesShown();
}

void ViewerRequestAnswers::setPicturesShown(std::optional<StoredMessage> request)
{
    controller_.setPicturesShown(std::move(request));
}

std::vector<StoredMessage> ViewerRequestAnswers::sentReplies(const StoredMessage& request) const
{
    return controller_.sentReplies(request);
}

void ViewerRequestAnswers::sendReply(const StoredMessage& request, const std::string& text)
{
    controller_.sendReply(request, text);
}

void ViewerRequestAnswers::markRequestDone(const StoredMessage& request)
{
    controller_.markRequestDone(request);
}

void ViewerRequestAnswers::sendPassword(const StoredMessage& request)
{
    controller_.sendPassword(request);
}

void ViewerRequestAnswers::composeReply(const StoredMessage& message)
{
    controller_.composeReply(message);
}

void ViewerRequestAnswers::showPictures(const StoredMessage& request)
{
    controller_.showPictures(request);
}

} // namespace wl
