#pragma once

#include <QString>

#include <sys/types.h>

// A short Chinese phrase for why the system refused a file operation (errno), for the
// messages that tell a parent what went wrong with which file.
QString reasonText(int errnum);

// Why a thing in the file system is not a file that could be read or replaced as one, by what
// it is instead (a folder, a pipe, a device …), for the messages that refuse it.
QString notAFileText(mode_t mode);
