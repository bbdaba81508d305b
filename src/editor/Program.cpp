#include "editor/Program.h"

#include "animation/AnimationWindow.h"
#include "animation/PutNewFileDialog.h"
#include "editor/LinePropertiesDialog.h"
#include "editor/MainWindow.h"
#include "editor/SourceLinesWindow.h"
#include "editor/TargetLinesWindow.h"
#include "views/InterpolatedLinesWindow.h"
#include "views/ProgressWindow.h"
#include "views/PropertiesWindow.h"

namespace morph {

TForm1* Form1 = nullptr;
TForm2* Form2 = nullptr;
TForm3* Form3 = nullptr;
TForm4* Form4 = nullptr;
TForm5* Form5 = nullptr;
TForm6* Form6 = nullptr;
TForm7* Form7 = nullptr;
TForm8* Form8 = nullptr;
TForm9* Form9 = nullptr;

void CreateProgramWindows() {
    Form1 = new TForm1;
    Form2 = new TForm2;
    Form3 = new TForm3;
    Form4 = new TForm4;
    Form5 = new TForm5;
    Form6 = new TForm6;
    Form7 = new TForm7;
    Form8 = new TForm8;
    Form9 = new TForm9;
}

void ShowProgram() {
    Form1->show();
}

void DestroyProgramWindows() {
    delete Form9;
    delete Form8;
    delete Form7;
    delete Form6;
    delete Form5;
    delete Form4;
    delete Form3;
    delete Form2;
    delete Form1; // also takes the frame windows it owns
    Form1 = nullptr;
    Form2 = nullptr;
    Form3 = nullptr;
    Form4 = nullptr;
    Form5 = nullptr;
    Form6 = nullptr;
    Form7 = nullptr;
    Form8 = nullptr;
    Form9 = nullptr;
}

} // namespace morph
