#pragma once
// The start-up and shutdown sequence of the program, shared by the entry and
// the start-up benchmark. The application object exists before StartUp.
namespace sonabox {

class TfMain;

// Creates the settings object, sets the application title, creates the main
// window (which runs FormCreate) and the two hidden dialogs, and shows the
// main window. Returns null after telling the user when the data folders
// cannot be made.
TfMain *StartUp();

// Frees the two dialogs, then the main window.
void ShutDown(TfMain *window);

} // namespace sonabox
