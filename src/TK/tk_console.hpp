#pragma once

#include <cstdio>
#include <string>

// Console output of every thread: each text leaves whole. A terminal's standard error may also
// show one status line beneath the others; it is cleared before any other text is written.

// Writes the text (its line breaks included) and flushes the stream.
void tk_console_write(std::FILE* stream, const std::string& text);
// Draws the status line on standard error in place of the last one; an empty line clears it.
void tk_console_status(const std::string& line);
// Clears the status line for good: the process is about to end.
void tk_console_end_status();
