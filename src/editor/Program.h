// The program's nine windows, created once at start-up in this order and kept until the end.
#pragma once

namespace morph {

class TForm1;
class TForm2;
class TForm3;
class TForm4;
class TForm5;
class TForm6;
class TForm7;
class TForm8;
class TForm9;

extern TForm1* Form1; // main window "Morphing"
extern TForm2* Form2; // "Properties"
extern TForm3* Form3; // "Interpolated Lines"
extern TForm4* Form4; // "Progress"
extern TForm5* Form5; // "Animation vQv"
extern TForm6* Form6; // floating "Source"
extern TForm7* Form7; // floating "Target"
extern TForm8* Form8; // "Put New File"
extern TForm9* Form9; // "Line Properies"

// Creates the windows (main window first); nothing is shown yet.
void CreateProgramWindows();
// Shows the main window, which shows the Properties window.
void ShowProgram();
// Destroys every window, the last created first.
void DestroyProgramWindows();

} // namespace morph
