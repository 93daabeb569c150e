// Which family of the platform we run on; it decides between the two
// resource-manager messages and whether a named mutex gets a security
// descriptor.
#pragma once

// True when the version query reports the NT platform family.
bool IsWindowsNT();
