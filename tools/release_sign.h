#pragma once
// `lanternbrook-release keygen` and `sign`: a signing key pair, and one more
// signature in <manifest>.sig. Main thread only.
#include "tools/release_command_line.h"

// Writes a new key pair; neither file may exist (refused before anything is
// generated, and never overwritten). The private key file is created with an
// access list for the current user alone; nothing of it is printed. Prints
// the key id. Throws ReleaseRefusal; returns ExitSuccess.
int RunKeygen(const KeygenCommand& command);

// Signs the manifest's exact bytes and adds the signature to <manifest>.sig,
// made when missing; a signature by the same key is replaced, the others
// stay. Throws ReleaseRefusal (an unreadable manifest, key or .sig);
// returns ExitSuccess.
int RunSign(const SignCommand& command);
