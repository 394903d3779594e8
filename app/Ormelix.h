// Program entry of the console.
#pragma once

class QApplication;

// Look the console is drawn with: Tahoma where the machine has it, the user's numeric locale.
void PrepareOrmelixApplication(QApplication& App);

// True when a windowing system can be reached; otherwise prints one line saying how to run the
// console under Xvfb.
bool DisplayAvailable(const char* ProgramPath);

// Runs the console until its window is closed; returns the process exit code.
int OrmelixMain(int argc, char** argv);
