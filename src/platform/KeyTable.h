#pragma once
// The one table between the keys of session events and X11 keys. A session event
// names a key by its key code (the helper's physical key, numbered as the ANSI
// keyboard's virtual key codes: 0 is A, 13 is W, 36 Return, 55 Command, ...) and
// carries the modifier flags of the moment in bits 16 to 31. X11 names what a key types
// by keysyms: the helper's side turns the keysym of a pressed key into its code, the
// host's side turns a code back into a keysym and that into a key of its own keymap.
//
// Modifiers map Control to Control, Command to Super and Option to Alt.

#include <cstdint>
#include <optional>
#include <vector>

namespace wl::keys {

// Modifier flags of a key event.
constexpr std::uint64_t kCapsLockFlag = 0x10000;
constexpr std::uint64_t kShiftFlag = 0x20000;
constexpr std::uint64_t kControlFlag = 0x40000;
constexpr std::uint64_t kOptionFlag = 0x80000;
constexpr std::uint64_t kCommandFlag = 0x100000;
// Only bits 16 to 31 travel and count.
constexpr std::uint64_t kModifierFlagsMask = 0xFFFF0000;
constexpr std::uint64_t modifierFlags(std::uint64_t flags)
{
    return flags & kModifierFlagsMask;
}

// Key codes the program itself refers to.
constexpr int kCapsLockKey = 57;
constexpr int kFirstModifierKey = 54;
constexpr int kLastModifierKey = 62;
// The largest key code an event may carry.
constexpr int kMaxKeyCode = 65535;

struct Key {
    int code = 0;
    // What the key types: the first keysym is the one a host types for the code; the
    // others (shifted symbols, keypad keys without Num Lock, the same key under another
    // name) are read as this key too.
    std::vector<std::uint32_t> keysyms;
};

// Every key a helper can send, in key-code order.
const std::vector<Key>& keyTable();

// The key code of a keysym; nullopt for keysyms the table lacks.
std::optional<int> keyCodeForKeysym(std::uint32_t keysym);
// The keysyms of a key code, preferred first; empty for codes the table lacks.
std::vector<std::uint32_t> keysymsForKeyCode(int code);

// The flag a modifier key (codes 54 to 62) stands for; nullopt for other keys.
std::optional<std::uint64_t> modifierFlagForKeyCode(int code);
inline bool isModifierKey(int code)
{
    return code >= kFirstModifierKey && code <= kLastModifierKey;
}

// The modifiers a host holds down for a key event whose flags ask for them (Shift,
// Control, Option, Command, in this order), each with the key code of its left-hand
// key. Caps Lock is a lock and travels as its own key.
struct HeldModifier {
    std::uint64_t flag;
    int code; // the left-hand key
};
const std::vector<HeldModifier>& pressableModifiers();

} // namespace wl::keys
