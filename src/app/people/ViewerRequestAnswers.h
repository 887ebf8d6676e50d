#pragma once
// The helper's answers to help requests over the viewer controller and the services it
// shares: replies and the cancel that marks a request done go out through the
// messenger, passwords through the password centre's composer, resolved requests are
// the controller's. Pictures are shown once they are here.

#include "app/people/HelpRequestAnswers.h"
#include "protocol/PairedDevice.h"

#include <QPointer>

namespace wl {

class Prompts;
class ViewerController;

class ViewerRequestAnswers final : public HelpRequestAnswers {
public:
    explicit ViewerRequestAnswers(ViewerController& controller, Prompts* prompts = nullptr);

    const std::map<std::string, std::vector<TransferredFile>>& pictures() const override { return pictures_; }
    const std::set<std::string>& fetchingPictures() const override { return fetching_; }
    const std::optional<StoredMessage>& picturesShown() const override { return shown_; }
    void setPicturesShown(std::optional<StoredMessage> request) override;

    std::vector<StoredMessage> sentReplies(const StoredMessage& request) const override;
    void sendReply(const StoredMessage& request, const std::string& text) override;
    void markRequestDone(const StoredMessage& request) override;
    void sendPassword(const StoredMessage& request) override;
    void composeReply(const StoredMessage& message) override;
    void showPictures(const StoredMessage& request) override;

private:
    std::optional<PairedDevice> deviceFor(const StoredMessage& message) const;
    Prompts& prompts() const;
    void changed();

    QPointer<ViewerController> controller_;
    Prompts* prompts_;
    std::map<std::string, std::vector<TransferredFile>> pictures_;
    std::set<std::string> fetching_;
    std::optional<StoredMessage> shown_;
};

} // namespace wl
