// What the upload window is doing, and which commands it takes while it does
// it. Every handler of the window asks this table first: the boxes and
// dialogs a run shows, and the wait while an uploader is deleted, run message
// loops that still deliver the window's commands (queued input, messages sent
// by other threads or processes), also while the window is disabled.
#pragma once

enum class UploadWindowState {
    Idle,      // no run: the window is waiting for the user
    Starting,  // the uploader is being made and started; its boxes may be up
    Running,   // the poll timer runs
    Ending,    // the end-of-run boxes and Save As; then the uploader is deleted
    Closing    // the settings are written, a run is abandoned, the window ends
};

enum class UploadWindowCommand {
    Upload,  // the Upload button
    Close,   // Cancel, Esc and the close box
    About,   // the system menu's About entry
    Help,    // the Help button and F1
    Tick     // the poll timer
};

// TRUE when the window acts on the command in that state; it drops it
// otherwise (see the table for why none is kept for later).
bool UploadWindowTakes(UploadWindowState state, UploadWindowCommand command);
