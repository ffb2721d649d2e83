#pragma once

#include <QString>

// A short Chinese phrase for why the system refused a file operation (errno), for the
// messages that tell a parent what went wrong with which file.
QString reasonText(int errnum);
