// No installer looks for a running copy on Linux: dpkg replaces files in use.
#include "platform/RunningMark.h"

void AnnounceRunning() {}
