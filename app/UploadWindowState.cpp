#include "app/UploadWindowState.h"

namespace {

constexpr bool T = true;
constexpr bool F = false;

// One row per state, one column per command, in declaration order. Only Idle
// and Running are states a person can act in; in the others a modal window is
// up (or the window is going), and what arrives was typed ahead or sent by
// another program. Dropping beats keeping such a command for later: a Close
// kept through Starting would end the run the user has just started, one kept
// through Ending would close the window once the user has dealt with Save As,
// and an Upload would nest a second uploader inside the first.
constexpr bool kTakes[5][5] = {
    //             Upload Close About Help Tick
    /* Idle     */ {T, T, T, T, F},
    /* Starting */ {F, F, F, F, F},
    /* Running  */ {F, T, T, T, T},
    /* Ending   */ {F, F, F, F, F},
    /* Closing  */ {F, F, F, F, F},
};

}  // namespace

bool UploadWindowTakes(UploadWindowState state, UploadWindowCommand command)
{
    return kTakes[static_cast<int>(state)][static_cast<int>(command)];
}
