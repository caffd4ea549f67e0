// The application object: names the settings store, runs the main window
// modally and ends the program when it closes.
#pragma once

struct OpenRequest;

class CVelmoraApp {
public:
    CVelmoraApp();
    // Returns false: there is no message loop after the main window.
    bool InitInstance(const OpenRequest &request);
};
