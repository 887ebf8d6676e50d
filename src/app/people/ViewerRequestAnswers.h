#pragma once
// The helper's answers to help requests are the viewer controller's: its fetched
// pictures and the request whose pictures are shown, the replies it sent, and the
// operations that answer a request. The list of people sees them through this.

#include "app/people/HelpRequestAnswers.h"

#include <QPointer>

namespace wl {

class ViewerController;

class ViewerRequestAnswers final : public HelpRequestAnswers {
public:
    explicit ViewerRequestAnswers(ViewerController& controller);

    const std::map<std::string, std::vector<TransferredFile>>& pictures() const override;
    const std::set<std::string>& fetchingPictures() const override;
    const std::optional<StoredMessage>& picturesShown() const override;
    void setPicturesShown(std::optional<StoredMessage> request) override;

    std::vector<StoredMessage> sentReplies(const StoredMessage& request) const override;
    void sendReply(const StoredMessage& request, const std::string& text) override;
    void markRequestDone(const StoredMessage& request) override;
    void sendPassword(const StoredMessage& request) override;
    void composeReply(const StoredMessage& message) override;
    void showPictures(const StoredMessage& request) override;

private:
    ViewerController& controller_;
};

} // namespace wl
