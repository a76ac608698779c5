#pragma once

#include <string>

// The console agent's fatal-message channel: the text and a line break on standard error
// (unless silent), the text in the trace log, then exit with status -1.
[[noreturn]] void agent_fatal(const std::string& text);

// "pellorin" and the version, for --version.
std::string agent_version_text();

// The usage text, without a line break after its last line.
std::string agent_usage_text();

// Reads the options into the converter's settings. False when an argument was not recognised.
bool parse_cmd_line(int argc, const char* const* argv);

// Replaces the selected table names with the names of a list file.
void process_tab_file(const std::string& path);

// The whole console agent; returns the exit status.
int pellorin_main(int argc, const char* const* argv);
