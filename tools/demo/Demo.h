// ormelix-demo: the console, unchanged, on the virtual instrument of the bench beside it.
#pragma once

class TOrmelix_Control_Form;

// Marker levels set by the demo aid, in volts.
constexpr long double DemoMarker1 = 3.3L;
constexpr long double DemoMarker2 = 1.2L;

// The demo aid: puts the two markers at DemoMarker1 and DemoMarker2 and ticks the connection box,
// as a user would, so the console polls without anyone at the mouse.
void DemoAutoConnect(TOrmelix_Control_Form& Form);

// Runs the demo until the console's window is closed; returns the process exit code.
int DemoMain(int argc, char** argv, bool AutoConnect);
