// Notification numbers of the colour picker button and its popup. The button
// reports them to its owner with its own id; the popup reports them to the
// button with 0.
#pragma once

namespace colourpickerid {

inline constexpr int CPN_SELCHANGE = 2025;    // highlighted colour changed while open
inline constexpr int CPN_DROPDOWN = 2026;     // the popup has just opened
inline constexpr int CPN_CLOSEUP = 2027;      // the popup has closed
inline constexpr int CPN_SELENDOK = 2028;     // a colour was chosen
inline constexpr int CPN_SELENDCANCEL = 2029; // the choice was cancelled

} // namespace colourpickerid
