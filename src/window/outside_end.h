// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program told to end from outside ends as END does: the port closed and
// its lock released, every timer stopped, the program ended.
//  - SIGTERM, SIGINT and SIGHUP (kill, Ctrl+C in the terminal, logout).
//    A signal that was ignored when the program started (nohup, a
//    background job) stays ignored.
//  - The window destroyed by another X client (xdotool windowclose, a
//    window manager's kill): the program would live on without a window,
//    holding the port.

namespace mv70 {

class Form1;

// Installs both on the window; once per program.
void endFromOutside(Form1 &form);

}  // namespace mv70
