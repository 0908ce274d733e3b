// Start-up and the message loop.
#pragma once

// Starts the runtime, fills the global string slots, creates the font and the brush,
// registers the window classes and creates the main window (which builds the form).
void StartUp();

// Runs until GetMessageA returns 0 (quit) or -1 (error).
void MainLoop();
