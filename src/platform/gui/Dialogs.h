// Message boxes and file dialogs behind one interface, so that tests can answer them.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

namespace morph {

enum class BoxKind { Information, Error, Confirmation, ApplicationError };

// A confirmed file dialog: the file, and which entry of the filter was selected (0 the first).
struct ChosenFile {
    QString path;
    int filter = 0;
};

// Filters are written as "Name (*.ext)|*.ext|Other (*.x)|*.x": pairs of a shown name and
// its patterns; the first entry is selected when the dialog opens.
class Dialogs {
  public:
    virtual ~Dialogs() = default;

    // Shows a box and returns true for OK / Yes. Captions: "Information", "Error",
    // "Confirm" (Yes and No buttons), and the program's title for application errors.
    virtual bool showBox(QWidget* parent, BoxKind kind, const QString& caption,
                         const QString& text) = 0;
    // Runs a file dialog starting in `folder`; returns the chosen file, nothing on cancel.
    virtual std::optional<QString> chooseFile(QWidget* parent, bool save, const QString& filter,
                                              const QString& folder) = 0;
    // The same, telling also which filter entry was selected. Dialogs that cannot tell
    // answer the first.
    virtual std::optional<ChosenFile>
    chooseFileAndFilter(QWidget* parent, bool save, const QString& filter, const QString& folder) {
        std::optional<QString> path = chooseFile(parent, save, filter, folder);
        if (!path) {
            return std::nullopt;
        }
        return ChosenFile{*path, 0};
    }
};

// The dialogs in use: the real ones unless a test installed its own.
Dialogs& CurrentDialogs();
void InstallDialogs(Dialogs* dialogs); // nullptr restores the real ones

void ShowInformation(QWidget* parent, const QString& text);
void ShowError(QWidget* parent, const QString& text);
bool Confirm(QWidget* parent, const QString& text);
// The top-level handler's box: error icon, the program's title, full stop added.
void ShowApplicationError(const QString& message);

// Open and save dialogs start in the current directory; confirming a file makes its
// folder the current directory.
std::optional<QString> RunOpenDialog(QWidget* parent, const QString& filter);
std::optional<QString> RunSaveDialog(QWidget* parent, const QString& filter);
// A save dialog whose selected filter entry matters; the path comes back absolute.
std::optional<ChosenFile> RunSaveDialogWithFilter(QWidget* parent, const QString& filter);

// "Bmp files (*.bmp)|*.bmp" -> "Bmp files (*.bmp)" entries for Qt's dialogs.
QStringList QtFilters(const QString& filter);

inline constexpr const char* kProgramTitle = "Morphing";

} // namespace morph
