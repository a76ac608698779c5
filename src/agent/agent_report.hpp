#pragma once

#include <string>

class drelk_converter;

// The run report of the console agent: a JSON file that schedulers read instead of the console.
// It is written once, atomically, at the end of the run or, after a failure of the whole job,
// on the way out of the process with what is known by then.

// Remembers the start of the job and the converter whose settings and outcomes it reports.
void agent_report_begin(const drelk_converter& converter);
// Writes the report, when one is asked for and none was written yet. False when it could not
// be written (the reason is on standard error unless silent).
bool agent_report_end(int status, const std::string& job_error = {});
// The converter is going away: nothing more can be reported.
void agent_report_forget();

// The report's text for a converter, its start and end times and the exit status.
std::string agent_report_text(const drelk_converter& converter, const std::string& started,
                              const std::string& ended, int status, const std::string& job_error);
