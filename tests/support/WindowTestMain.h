// The main function of a window test program: the running program with its windows, the
// scripted boxes and dialogs in `dialogs`, and the Qt Test class run against them.
#pragma once

#include "editor/Program.h"
#include "platform/gui/Application.h"
#include "support/ScriptedDialogs.h"

#include <QTest>

namespace morph::test {

template <class Test> int RunWindowTest(int argc, char** argv, ScriptedDialogs*& dialogs) {
    Application app(argc, argv);
    ApplyProgramStyle(app);
    ScriptedDialogs scripted;
    dialogs = &scripted;
    CreateProgramWindows();
    ShowProgram();
    Test test;
    const int status = QTest::qExec(&test, argc, argv);
    DestroyProgramWindows();
    dialogs = nullptr;
    return status;
}

} // namespace morph::test
