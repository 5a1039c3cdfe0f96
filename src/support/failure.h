#pragma once

// Why the last step failed. Standard output keeps its fixed lines ("  Error
// copying E"); beside each, forkit writes one line to standard error that
// says why: "forkit: <path>: <reason>". Each failing call notes its reason
// where it fails.

// Notes forkit's own reason for refusing `path` (NULL: a path that did not
// fit), replacing any earlier note.
void note_refusal(const char* path, const char* reason);

// Notes the system's message for the call on `path` that just failed. Call
// it straight after that call, before any other can change the error.
void note_system_error(const char* path);

// The reason noted last.
const char* noted_reason();

// Writes the noted failure to standard error, forgets it, and counts the
// step as failed.
void print_failure();

// print_line of `console_line`, the fixed line that tells the failure, then
// print_failure.
void report_failure(const char* console_line);

// Counts a step that worked: a folder made or found usable, a file written.
void count_step_done();

// After the last step, when any failed: one line on standard error that
// counts them, since they may hide among many lines that went well.
void print_verdict();
