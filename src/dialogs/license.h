// The show-license step of the install sequence.
#pragma once

// Shows the package's license text, when it has one, in the license dialog.
// Returns 1 (go on) when there is no text to show or the user pressed
// Accept, 0 (stop) on Decline, Escape, the close box, or a dialog that
// cannot be created.
int ShowLicenseStep(const char* installerPath);
