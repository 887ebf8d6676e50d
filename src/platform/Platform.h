#pragma once
// The platform backends the program works with, one of each, chosen once at start-up
// (chooseDesktopBackends) and handed down from there: the controllers keep a copy and
// give each part the pieces it uses. Tests fill one with their own fakes. A
// default-made one holds the safe stand-ins (each interface's none(), no information
// keys) for the services a machine may lack, but no settings, key store, timers,
// prompts, notifier or owner check: a part made without those is a wiring mistake and
// says so (platform/Required.h).

#include "platform/CaptureExclusion.h"
#include "platform/CursorImages.h"
#include "platform/Defaults.h"
#include "platform/Displays.h"
#include "platform/InfoDictionary.h"
#include "platform/InputPoster.h"
#include "platform/KeyStore.h"
#include "platform/KeyboardLayout.h"
#include "platform/LocalInput.h"
#include "platform/Notifier.h"
#include "platform/OneShotTimer.h"
#include "platform/OwnerCheck.h"
#include "platform/Prompts.h"
#include "platform/ScreenSource.h"
#include "platform/SystemServices.h"

#include <memory>

namespace wl {

struct Platform {
    // The user's settings, the secret keys, the program's information keys and the
    // timers that code with a delay starts.
    std::shared_ptr<Defaults> defaults; // required: what is kept from one run to the next
    std::shared_ptr<KeyStore> keys; // required: this installation's keys
    // required by every part that reaches the introduction service: its WLIntroductionURL
    std::shared_ptr<InfoDictionary> info = std::make_shared<MapInfoDictionary>();
    TimerFactory timers; // required: every part that waits takes these
    std::shared_ptr<AdminPrompt> adminPrompt = AdminPrompt::none();
    std::shared_ptr<PowerManagement> power = PowerManagement::none();
    std::shared_ptr<LoginItem> loginItem = LoginItem::none();
    std::shared_ptr<Permissions> permissions = Permissions::none();
    std::shared_ptr<Workspace> workspace = Workspace::none();
    std::shared_ptr<Displays> displays = Displays::none();
    std::shared_ptr<InputPoster> inputPoster = InputPoster::none();
    std::shared_ptr<LocalInput> localInput = LocalInput::none();
    std::shared_ptr<CursorImages> cursorImages = CursorImages::none();
    std::shared_ptr<KeyboardLayout> keyboardLayout = KeyboardLayout::none();
    // The screen the host's sessions and screenshots read (a new source for each thread
    // that reads it); when empty there is none, and a screenshot or session says so.
    ScreenSources screens;
    // The windows kept out of every picture of the screen that leaves this program: the
    // shell's password panels register theirs, the sessions' capture reads them.
    std::shared_ptr<CaptureExclusion> captureExclusion = std::make_shared<CaptureExclusion>();
    // The questions, notifications and owner check: required, like the timers.
    std::shared_ptr<Prompts> prompts;
    std::shared_ptr<Notifier> notifier;
    std::shared_ptr<OwnerCheck> ownerCheck;
};

} // namespace wl
