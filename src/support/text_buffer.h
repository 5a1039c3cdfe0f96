#pragma once

// The one shared text buffer, where forkit forms its messages and joins its
// paths.
enum { TEXT_BUFFER_SIZE = 1024 };

#if defined(__GNUC__)
#define FORKIT_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define FORKIT_PRINTF(fmt, args)
#endif

// Formats `tmpl` into the shared buffer and returns the buffer; the result
// lasts until the next call. NULL when the result would not fit: the buffer
// then holds its beginning, ending in "...", for print_line to show, but
// never a path.
const char* format_text(const char* tmpl, ...) FORKIT_PRINTF(1, 2);

// Writes `text` and one line feed to standard output and flushes it. `text`
// is never a template. NULL, a format_text result that did not fit, prints
// the shortened text that format_text left in the buffer. Control characters
// but tab and line feed show as '?', so no name can steer the terminal.
void print_line(const char* text);

// print_line's twin for standard error, for the reasons behind failures.
void print_error_line(const char* text);

// `first`, `second` and `third`, the empty ones left out, joined with
// forkit's separator in `out`: a path as the reasons for failures name it.
// NULL when it does not fit.
const char* join_path(char (*out)[TEXT_BUFFER_SIZE], const char* first, const char* second,
                      const char* third);

// 1 if `text` holds a double quote, a CR or an LF: in the files forkit
// writes, such a name would end its quotes or its line early.
int breaks_a_quoted_line(const char* text);
