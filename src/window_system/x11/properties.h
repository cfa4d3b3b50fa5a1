// Reading the properties a look asks for: what the parts of the look share.
#pragma once

#include <algorithm>
#include <optional>
#include <string>

#include "window_system/x11/look.h"

namespace x11 {

// Four CARDINALs (left, right, top, bottom), as _NET_FRAME_EXTENTS and _GTK_FRAME_EXTENTS hold them.
inline bool ReadExtents(const xcb_get_property_reply_t* reply, Extents& extents)
{
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply) < 16)
        return false;
    const auto* value = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
    // Extents beyond any screen are nonsense from a confused program; read them as none.
    for (int i = 0; i < 4; ++i)
        if (value[i] > 4096)
            return false;
    extents = {static_cast<int>(value[0]), static_cast<int>(value[1]), static_cast<int>(value[2]),
               static_cast<int>(value[3])};
    return true;
}

inline bool Contains(const xcb_atom_t* atoms, std::uint32_t count, xcb_atom_t atom)
{
    return std::find(atoms, atoms + count, atom) != atoms + count;
}

inline std::string PropertyText(const xcb_get_property_reply_t* reply)
{
    if (!reply || reply->format != 8)
        return {};
    return {static_cast<const char*>(xcb_get_property_value(reply)),
            static_cast<std::size_t>(xcb_get_property_value_length(reply))};
}

inline bool HasState(const xcb_get_property_reply_t* state, xcb_atom_t wanted)
{
    return state && state->format == 32 &&
        Contains(static_cast<const xcb_atom_t*>(xcb_get_property_value(state)),
                 static_cast<std::uint32_t>(xcb_get_property_value_length(state) / 4), wanted);
}

// The window of a property holding one, such as WM_TRANSIENT_FOR; empty where there is none.
inline std::optional<xcb_window_t> WindowIn(const xcb_get_property_reply_t* reply)
{
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply) < 4)
        return std::nullopt;
    return *static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
}

} // namespace x11
