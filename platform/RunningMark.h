// The mark by which the installers see that the program (or tcc-upload) runs.
#pragma once

// The name of the mark: a named mutex in the global namespace, so that an
// installer run by another user or elevated sees it too. The setup script
// (packaging/windows) asks for the same name.
#define TCC_RUNNING_MARK_NAME "Global\\Halvorix.TandrelConfigurationController.Running"

// Creates the mark; it stays until the process ends, however it ends, since
// the system closes the handle then. Nothing on platforms without installers
// that look for it. One source file per platform, picked by the build.
void AnnounceRunning();
