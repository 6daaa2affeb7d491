// Window layer: where a message to a skinned window comes from. Any process
// may post or send a window any message number; the ones that stand for the
// window's own life (its destruction) or that make the library hand out
// something (an accessible object) must be told apart from the real thing.
// Two hooks per thread that holds a skinned window tell the library what a
// window procedure cannot see: that DestroyWindow is running for a window,
// and which message the thread's message loop has just taken from its queue.
#pragma once

#include <windows.h>

namespace DUIOrigin {

// A skinned window of hWnd's thread is attached, or detached again; the hooks
// live while the thread has at least one. Returns the thread to give
// Unwatch, or 0 when the hooks cannot be set (then every message counts as
// genuine, as without the watch).
DWORD Watch(HWND hWnd);
void Unwatch(DWORD dwThread);

// hWnd, or a window it is a child of, is inside DestroyWindow: its
// WM_DESTROY and WM_NCDESTROY are the system's. False for the same messages
// posted or sent by anyone else.
bool IsBeingDestroyed(HWND hWnd);
// The window's destruction is over; it is forgotten.
void Destroyed(HWND hWnd);

// The message is the one the thread's loop took from the queue and is now
// dispatching: someone posted it. False for a message that was sent. Each
// posted message answers true once.
bool TakePosted(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace DUIOrigin
