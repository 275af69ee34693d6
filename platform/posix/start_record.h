// The simulator's record of program starts: when the device context names a
// start record (a program's start-up takes it from BRIX_START_RECORD), every
// successful program start appends one line to that host file, so that a host
// tool can tell which programs the device started and with which command lines.
#pragma once

namespace plat::posix {

// Name of the environment variable that names the record file.
inline constexpr const char* kStartRecordVariable = "BRIX_START_RECORD";

// Appends "PROGRAM\tCOMMAND-LINE\n" (no tab when there is no command line) to the record, UTF-8,
// with '%', tab, CR and LF written as %25, %09, %0D and %0A; nothing when the context names no record.
void RecordStart(const char16_t* application, const char16_t* commandLine);

}  // namespace plat::posix
