// The constants every server publishes to scripts, whatever the game.

#include "Scripting/ResourceMgr.h"

namespace Corvane3D {

namespace {

struct tDefine {
    const char* m_name;
    int32_t m_value;
};

struct tUnsignedDefine {
    const char* m_name;
    uint32_t m_value;
};

#include "KeyCodes.inc"

constexpr tDefine g_KeyStates[] = {
    {"KEYSTATE_UP", 0},
    {"KEYSTATE_DOWN", 1},
    {"KEYSTATE_BOTH", 2},
};

constexpr tDefine g_KeyModifiers[] = {
    {"KMOD_NONE", 0},       {"KMOD_LSHIFT", 1},    {"KMOD_RSHIFT", 2},      {"KMOD_LCTRL", 64},
    {"KMOD_RCTRL", 128},    {"KMOD_LALT", 256},    {"KMOD_RALT", 512},      {"KMOD_LGUI", 1024},
    {"KMOD_RGUI", 2048},    {"KMOD_NUM", 4096},    {"KMOD_CAPS", 8192},     {"KMOD_MODE", 16384},
    {"KMOD_RESERVED", 32768}, {"KMOD_CTRL", 192},  {"KMOD_SHIFT", 3},       {"KMOD_ALT", 768},
    {"KMOD_GUI", 3072},
};

constexpr tDefine g_SeekOrigins[] = {
    {"SEEK_SET", 0},
    {"SEEK_CUR", 1},
    {"SEEK_END", 2},
};

constexpr tDefine g_LogTypes[] = {
    {"LOGTYPE_NONE", 0},  {"LOGTYPE_VERBOSE", 1}, {"LOGTYPE_DEBUG", 2},    {"LOGTYPE_INFO", 3},
    {"LOGTYPE_WARN", 4},  {"LOGTYPE_ERROR", 5},   {"LOGTYPE_CRITICAL", 6},
};

// ARGB.
constexpr tUnsignedDefine g_Colours[] = {
    {"COLOUR_TRANSPARENT", 0x00000000}, {"COLOUR_WHITE", 0xFFFFFFFF},  {"COLOUR_BLACK", 0xFF000000},
    {"COLOUR_RED", 0xFFFF0000},         {"COLOUR_LIME", 0xFF00FF00},   {"COLOUR_BLUE", 0xFF0000FF},
    {"COLOUR_YELLOW", 0xFFFFFF00},      {"COLOUR_AQUA", 0xFF00FFFF},   {"COLOUR_FUCHSIA", 0xFFFF00FF},
    {"COLOUR_SKYBLUE", 0xFF66CCFF},     {"COLOUR_SILVER", 0xFFC3C3C3}, {"COLOUR_GREEN", 0xFF007F00},
    {"COLOUR_ORANGE", 0xFFFF7F00},
};

template <size_t N>
void DefineAll(CDefineHandlers& defines, const tDefine (&table)[N])
{
    for (const tDefine& define : table)
        defines.Define(define.m_name, define.m_value);
}

} // namespace

void CResourceMgr::Defines()
{
    CDefineHandlers& defines = *m_pDefineHandlers;
    DefineAll(defines, g_KeyStates);
    DefineAll(defines, g_ScanCodes);
    defines.Define("SDL_NUM_SCANCODES", int32_t(512));
    DefineAll(defines, g_KeyCodes);
    DefineAll(defines, g_KeyModifiers);
    DefineAll(defines, g_SeekOrigins);
    DefineAll(defines, g_LogTypes);
    for (const tUnsignedDefine& colour : g_Colours)
        defines.Define(colour.m_name, colour.m_value);
}

} // namespace Corvane3D
