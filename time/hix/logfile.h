// Where the burst log goes. The log is on only when a file "kvdiag.log"
// already exists: in the current directory, or else in the directory that the
// environment variable "USERPROFILE" names. Such a file is never created.
#pragma once

#include <string>

// The name of the log file found ("kvdiag.log", or the path in the profile
// directory), or an empty text when there is none. An unset "USERPROFILE"
// is reported on the standard error stream.
std::string findLogFile();
