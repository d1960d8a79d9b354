#pragma once

// "orws-devserver cd-extract ...": decrypts and unpacks a disc upload (see
// README.md). argv[1] is "cd-extract". Returns the exit status.
int runCdExtract(int argc, char** argv);
