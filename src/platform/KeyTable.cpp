#include "platform/KeyTable.h"

#include <X11/XF86keysym.h>
#include <X11/keysym.h>

#include <map>

namespace wl::keys {

namespace {

std::vector<Key> makeTable()
{
    return {
        {0x00, {XK_a, XK_A}},
        {0x01, {XK_s, XK_S}},
        {0x02, {XK_d, XK_D}},
        {0x03, {XK_f, XK_F}},
        {0x04, {XK_h, XK_H}},
        {0x05, {XK_g, XK_G}},
        {0x06, {XK_z, XK_Z}},
        {0x07, {XK_x, XK_X}},
        {0x08, {XK_c, XK_C}},
        {0x09, {XK_v, XK_V}},
        {0x0A, {XK_less, XK_greater}}, // the extra key of ISO keyboards
        {0x0B, {XK_b, XK_B}},
        {0x0C, {XK_q, XK_Q}},
        {0x0D, {XK_w, XK_W}},
        {0x0E, {XK_e, XK_E}},
        {0x0F, {XK_r, XK_R}},
        {0x10, {XK_y, XK_Y}},
        {0x11, {XK_t, XK_T}},
        {0x12, {XK_1, XK_exclam}},
        {0x13, {XK_2, XK_at}},
        {0x14, {XK_3, XK_numbersign}},
        {0x15, {XK_4, XK_dollar}},
        {0x16, {XK_6, XK_asciicircum}},
        {0x17, {XK_5, XK_percent}},
        {0x18, {XK_equal, XK_plus}},
        {0x19, {XK_9, XK_parenleft}},
        {0x1A, {XK_7, XK_ampersand}},
        {0x1B, {XK_minus, XK_underscore}},
        {0x1C, {XK_8, XK_asterisk}},
        {0x1D, {XK_0, XK_parenright}},
        {0x1E, {XK_bracketright, XK_braceright}},
        {0x1F, {XK_o, XK_O}},
        {0x20, {XK_u, XK_U}},
        {0x21, {XK_bracketleft, XK_braceleft}},
        {0x22, {XK_i, XK_I}},
        {0x23, {XK_p, XK_P}},
        {0x24, {XK_Return}},
        {0x25, {XK_l, XK_L}},
        {0x26, {XK_j, XK_J}},
        {0x27, {XK_apostrophe, XK_quotedbl}},
        {0x28, {XK_k, XK_K}},
        {0x29, {XK_semicolon, XK_colon}},
        {0x2A, {XK_backslash, XK_bar}},
        {0x2B, {XK_comma}},
        {0x2C, {XK_slash, XK_question}},
        {0x2D, {XK_n, XK_N}},
        {0x2E, {XK_m, XK_M}},
        {0x2F, {XK_period}},
        {0x30, {XK_Tab, XK_ISO_Left_Tab}},
        {0x31, {XK_space}},
        {0x32, {XK_grave, XK_asciitilde}},
        {0x33, {XK_BackSpace}},
        {0x35, {XK_Escape}},
        {0x36, {XK_Super_R}},
        {0x37, {XK_Super_L}},
        {0x38, {XK_Shift_L}},
        {0x39, {XK_Caps_Lock}},
        {0x3A, {XK_Alt_L}},
        {0x3B, {XK_Control_L}},
        {0x3C, {XK_Shift_R}},
        {0x3D, {XK_Alt_R, XK_ISO_Level3_Shift}},
        {0x3E, {XK_Control_R}},
        {0x40, {XK_F17}},
        {0x41, {XK_KP_Decimal, XK_KP_Delete, XK_KP_Separator}},
        {0x43, {XK_KP_Multiply}},
        {0x45, {XK_KP_Add}},
        {0x47, {XK_Num_Lock}}, // the keypad's Clear
        {0x48, {XF86XK_AudioRaiseVolume}},
        {0x49, {XF86XK_AudioLowerVolume}},
        {0x4A, {XF86XK_AudioMute}},
        {0x4B, {XK_KP_Divide}},
        {0x4C, {XK_KP_Enter}},
        {0x4E, {XK_KP_Subtract}},
        {0x4F, {XK_F18}},
        {0x50, {XK_F19}},
        {0x51, {XK_KP_Equal}},
        {0x52, {XK_KP_0, XK_KP_Insert}},
        {0x53, {XK_KP_1, XK_KP_End}},
        {0x54, {XK_KP_2, XK_KP_Down}},
        {0x55, {XK_KP_3, XK_KP_Next}},
        {0x56, {XK_KP_4, XK_KP_Left}},
        {0x57, {XK_KP_5, XK_KP_Begin}},
        {0x58, {XK_KP_6, XK_KP_Right}},
        {0x59, {XK_KP_7, XK_KP_Home}},
        {0x5A, {XK_F20}},
        {0x5B, {XK_KP_8, XK_KP_Up}},
        {0x5C, {XK_KP_9, XK_KP_Prior}},
        {0x60, {XK_F5}},
        {0x61, {XK_F6}},
        {0x62, {XK_F7}},
        {0x63, {XK_F3}},
        {0x64, {XK_F8}},
        {0x65, {XK_F9}},
        {0x67, {XK_F11}},
        {0x69, {XK_Print, XK_F13}}, // where PC keyboards have Print Screen
        {0x6A, {XK_F16}},
        {0x6B, {XK_Scroll_Lock, XK_F14}},
        {0x6D, {XK_F10}},
        {0x6E, {XK_Menu}},
        {0x6F, {XK_F12}},
        {0x71, {XK_Pause, XK_F15}},
        {0x72, {XK_Insert, XK_Help}}, // Help sits where PC keyboards have Insert
        {0x73, {XK_Home}},
        {0x74, {XK_Prior}},
        {0x75, {XK_Delete}},
        {0x76, {XK_F4}},
        {0x77, {XK_End}},
        {0x78, {XK_F2}},
        {0x79, {XK_Next}},
        {0x7A, {XK_F1}},
        {0x7B, {XK_Left}},
        {0x7C, {XK_Right}},
        {0x7D, {XK_Down}},
        {0x7E, {XK_Up}},
    };
}

const std::map<std::uint32_t, int>& codeByKeysym()
{
    static const std::map<std::uint32_t, int> map = [] {
        std::map<std::uint32_t, int> result;
        for (const auto& key : keyTable())
            for (std::uint32_t keysym : key.keysyms)
                result.emplace(keysym, key.code);
        return result;
    }();
    return map;
}

} // namespace

const std::vector<Key>& keyTable()
{
    static const std::vector<Key> table = makeTable();
    return table;
}

std::optional<int> keyCodeForKeysym(std::uint32_t keysym)
{
    const auto& map = codeByKeysym();
    auto found = map.find(keysym);
    if (found == map.end())
        return std::nullopt;
    return found->second;
}

std::vector<std::uint32_t> keysymsForKeyCode(int code)
{
    for (const auto& key : keyTable())
        if (key.code == code)
            return key.keysyms;
    return {};
}

std::optional<std::uint64_t> modifierFlagForKeyCode(int code)
{
    switch (code) {
    case 54:
    case 55: return kCommandFlag;
    case 56:
    case 60: return kShiftFlag;
    case 57: return kCapsLockFlag;
    case 58:
    case 61: return kOptionFlag;
    case 59:
    case 62: return kControlFlag;
    default: return std::nullopt;
    }
}

const std::vector<HeldModifier>& pressableModifiers()
{
    static const std::vector<HeldModifier> list = {
        {kShiftFlag, 56}, {kControlFlag, 59}, {kOptionFlag, 58}, {kCommandFlag, 55}};
    return list;
}

} // namespace wl::keys
