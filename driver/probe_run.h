// The probe's run from the command line to the exit code.
#pragma once

// Exit codes.
const int EXIT_DONE = 0;
const int EXIT_NO_LIBRARY = 1;
const int EXIT_MISSING_EXPORT = 2;
const int EXIT_NO_CHANNEL = 3;
const int EXIT_NO_MEMORY = 4;

int run_probe(int argc, char** argv);
