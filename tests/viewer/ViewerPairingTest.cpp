// Pairing a new host from the helper's side, against the real introduction service
// and a waiting host of the test's own (the program's host half of pairing).
#include "ServiceProcess.h"
#include "ViewerTestKit.h"

#include "mail/PairingClient.h"
#include "mail/PairingHost.h"
#include "platform/InfoDictionary.h"
#include "signalling/WebSocketSignalChannel.h"
#include "viewer/PairingSheet.h"

#include <QLineEdit>

#include <gtest/gtest.h>

namespace wl::test {
namespace {

using State = ViewerController::PairingState;

void snapshot(QWidget& widget, const std::string& name)
{
    widget.show();
    waitForNextTurn(); // the layout's pass
    if (const char* folder = std::getenv("WL_GALLERY_DIR"))
        widget.grab().save(QString::fromStdString(std::string(folder) + "/" + name + ".png"));
}

class ViewerPairing : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service.start());
        rig.info = std::make_shared<MapInfoDictionary>(
            std::map<std::string, std::string>{{InfoKey::introductionURL, service.httpUrl() + "/"}});
        rig.make();
    }
    void TearDown() override { rig.destroy(); }

    // A host waiting with a new code, answering with `allow` once asked (or not at all).
    std::unique_ptr<PairingHost> waitingHost(std::optional<bool> allow)
    {
        auto host = std::make_unique<PairingHost>(newPairingCode(), qtTimerFactory(), rig.info);
        host->name = "Ada Lovelace";
        host->signingKey = hostKey;
        PairingHost* raw = host.get();
        host->onRequest = [this, raw, allow](const std::string&, const std::string&, const std::string& number) {
            hostNumber = number;
            if (allow)
                raw->answer(*allow);
        };
        host->start();
        // A helper joins at once: the service holds the code first.
        EXPECT_TRUE(waitUntil([&] { return raw->isWaiting(); }, 10000)) << "the service never held the code";
        return host;
    }

    ServiceProcess service;
    ViewerRig rig;
    SigningKey hostKey = SigningKey::generate();
    std::string hostNumber;
};

TEST_F(ViewerPairing, CodesAreReadLeniently)
{
    ViewerController& v = *rig.viewer;
    EXPECT_FALSE(v.hosts().pair("K7QM-3XR", ""));
    EXPECT_EQ(v.hosts().pairingState().kind, State::Kind::idle);
    EXPECT_FALSE(v.hosts().pairing());
    for (const std::string code : {"k7qm 3xrp", "K7QM-3XRP", "K7QM3XRP"}) {
        ASSERT_TRUE(v.hosts().pair(code, ""));
        EXPECT_EQ(v.hosts().pairing()->code(), "K7QM3XRP");
        EXPECT_EQ(v.hosts().pairingState().kind, State::Kind::connecting);
    }
    // Nobody waits with that code.
    ASSERT_TRUE(waitUntil([&] { return v.hosts().pairingState().kind == State::Kind::failed; }, 10000));
    EXPECT_EQ(v.hosts().pairingState().text, PairingClient::kNoHostText);
    v.hosts().cancelPairing();
    EXPECT_EQ(v.hosts().pairingState().kind, State::Kind::idle);
}

TEST_F(ViewerPairing, BothSidesSeeOneNumberAndTheTypedNameIsKept)
{
    ViewerController& v = *rig.viewer;
    auto host = waitingHost(true);
    std::string shownNumber, shownName;
    QObject::connect(&v, &ViewerController::changed, &v, [&] {
        if (v.hosts().pairingState().kind == State::Kind::verify) {
            shownNumber = v.hosts().pairingState().number;
            shownName = v.hosts().pairingState().hostName;
        }
    });
    ASSERT_TRUE(v.hosts().pair(host->code(), "  Mom's iMac\t"));
    ASSERT_TRUE(waitUntil([&] { return v.hosts().pairingState().kind == State::Kind::paired; }, 10000));
    EXPECT_EQ(shownNumber, hostNumber);
    EXPECT_EQ(shownNumber.size(), 6u);
    EXPECT_EQ(shownName, "Mom's iMac");
    EXPECT_EQ(v.hosts().pairingState().text, "Mom's iMac");
    ASSERT_EQ(v.hosts().devices().size(), 1u);
    EXPECT_EQ(v.hosts().devices()[0].name, "Mom's iMac");
    EXPECT_EQ(v.hosts().devices()[0].publicKey, hostKey.publicKeyBase64());
    EXPECT_FALSE(v.hosts().pairing());

    // Paired again without a name: one entry, at the end, with the host's own name.
    FakeHost other("Grace's Mac");
    v.hosts().myMacsRosterChanged({other.record()}, {});
    auto again = waitingHost(true);
    ASSERT_TRUE(v.hosts().pair(again->code(), ""));
    ASSERT_TRUE(waitUntil([&] { return v.hosts().pairingState().kind == State::Kind::paired; }, 10000));
    ASSERT_EQ(v.hosts().devices().size(), 2u);
    EXPECT_EQ(v.hosts().devices()[1].name, "Ada Lovelace");
    EXPECT_EQ(v.hosts().devices()[0].name, "Grace's Mac");
}

TEST_F(ViewerPairing, TheSheetFollowsThePairing)
{
    ViewerController& v = *rig.viewer;
    PairingSheet sheet(v);
    EXPECT_EQ(sheet.pageName(), "idle");
    sheet.codeField()->setText("K7QM-3XR");
    sheet.pairAction();
    EXPECT_TRUE(sheet.showsCodeError());
    EXPECT_EQ(sheet.pageName(), "idle");

    auto host = waitingHost(false);
    sheet.codeField()->setText(QString::fromStdString(host->code()));
    sheet.nameField()->setText("Lab Mac");
    sheet.pairAction();
    EXPECT_FALSE(sheet.showsCodeError());
    ASSERT_TRUE(waitUntil([&] { return sheet.pageName() == "failed"; }, 10000));
    EXPECT_EQ(v.hosts().pairingState().text, "Pairing wasn't allowed on the other Mac.");
    snapshot(sheet, "pairing-failed");
    // Try Again brings back the form with what was typed.
    v.hosts().cancelPairing();
    EXPECT_EQ(sheet.pageName(), "idle");
    EXPECT_EQ(sheet.nameField()->text(), "Lab Mac");
}

TEST_F(ViewerPairing, TheSheetShowsTheNumberUntilTheHostAllows)
{
    ViewerController& v = *rig.viewer;
    PairingSheet sheet(v);
    auto host = waitingHost(std::nullopt);
    sheet.codeField()->setText(QString::fromStdString(host->code()));
    sheet.pairAction();
    EXPECT_EQ(sheet.pageName(), "connecting");
    snapshot(sheet, "pairing-connecting");
    ASSERT_TRUE(waitUntil([&] { return sheet.pageName() == "verify"; }, 10000));
    EXPECT_EQ(v.hosts().pairingState().number, hostNumber);
    EXPECT_EQ(v.hosts().pairingState().hostName, "Ada Lovelace");
    snapshot(sheet, "pairing-verify");
    host->answer(true);
    ASSERT_TRUE(waitUntil([&] { return sheet.pageName() == "paired"; }, 10000));
    snapshot(sheet, "pairing-paired");
    // Closing the sheet ends nothing further and brings back the form next time.
    v.hosts().cancelPairing();
    EXPECT_EQ(sheet.pageName(), "idle");
}

} // namespace
} // namespace wl::test
