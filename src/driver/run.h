#pragma once

// The whole run of forkit over its command line; always returns 0, the exit
// status. Prints its progress and every failure on standard output.
int run(int argc, char** argv);
