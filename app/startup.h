// Start-up and the message loop.
#pragma once

// The string slots of the global variable area, each a new empty string after start-up.
constexpr int kGlobalStringSlotCount = 32;

// Starts the runtime, fills the global string slots, creates the font and the brush,
// registers the window classes and creates the main window (which builds the form).
// Returns whether the main window exists: without it the loop would wait for ever.
bool StartUp();

// Runs until GetMessageA returns 0 (quit) or -1 (error).
void MainLoop();
