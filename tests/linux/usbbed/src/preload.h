// umockdev's preload library in this process.
#pragma once

namespace usbbed {

// The preload library is mapped into this process.
bool PreloadLoaded();

// Starts this program again with the preload library when it runs without;
// returns only when it runs with it.  Also takes the timer slack down to
// 1 ns, which the preload library's sleep after every ioctl otherwise costs.
void EnsurePreload(char** argv);

}  // namespace usbbed
