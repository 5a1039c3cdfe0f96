#pragma once

// What a run checks before it creates anything, and how it tells a failure.

enum {
    ERROR_INVALID_SOURCE = 1,
    ERROR_NO_GAME_FOLDER = 2,
    ERROR_MOD_EXISTS = 3,
    ERROR_MOD_NOT_CREATED = 999
};

// Prints how forkit is called, with an example.
void print_usage();

// 1 if game, cgame and ui can be entered from the current directory.
int source_tree_valid();

// Prints the error heading and the message for `code`.
void report_error(int code);
