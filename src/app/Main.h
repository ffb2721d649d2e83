#pragma once

struct Environment;

// The program's start-up: shows the splash window, then the main window, each modally, and
// returns when the user has closed the main window. The library is first read by the main
// window, after the splash has gone.
void Main(const Environment &environment);
