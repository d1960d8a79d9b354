#pragma once

// The window system the client runs on.
//
// Under a Wayland session a client cannot place its own windows, keep them
// on top or shape them as the client's frameless windows are designed. Where
// the session also offers X11 (XWayland: DISPLAY is set), the client runs
// there, unless the user chose a platform (QT_QPA_PLATFORM, or -platform on
// the command line). Without XWayland it runs on Wayland as it can.
namespace DisplayChoice
{

// True when the client should run on X11 although the session is Wayland.
bool x11UnderWayland(int argc, char** argv);

} // namespace DisplayChoice
