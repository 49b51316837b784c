// Whether only administrators can change the server's files.  A registration
// for the machine makes the hosts of every user, administrators' included,
// load the DLLs of the server's folder: anybody who can put a DLL there runs
// code in their processes.
#pragma once

#include <windows.h>

namespace automation {

// S_OK when the folder of the server, the DLL and the transfer library beside it
// belong to administrators, SYSTEM or TrustedInstaller and nobody else may
// change them (write or delete files, change access rights or the owner);
// else UXA_E_UNSAFE_FOLDER, or the system's error when the rights can't be read.
HRESULT CheckServerFolder();

}  // namespace automation
