#pragma once

// The whole run of forkit over its command line; always returns 0, the exit
// status. Prints its progress on standard output, and why a step failed on
// standard error.
int run(int argc, char** argv);
