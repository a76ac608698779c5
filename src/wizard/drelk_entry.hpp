#pragma once

#include <string>

// The wizard program: error handler, GUI checks, then `drelk_run`. Answers the exit code.
// "--version" alone prints the program's name and version instead.
int drelk_main(int argc, char** argv);

// From the converter on, with the error handler and the application already made: loads a
// profile named by the command line (arguments joined with blanks), runs the six pages, and
// tears everything down again, storing the settings. Answers 0 after Finish and after Cancel.
int drelk_run(const std::string& command_line);

// The program's end with this exit code: at once when a worker is still blocked in the driver,
// else by returning it.
int drelk_end(int result);

// The arguments after the program's name (Qt's own already taken out), joined with blanks: a
// profile path with blanks arrives whole whether quoted or not.
std::string drelk_command_line(int argc, char** argv);

// "Tabloxa 1.1 ".
std::u16string drelk_title();

// True when the Qt runtime is at least the version the program was built against.
bool drelk_qt_version_ok(const char* runtime_version);
