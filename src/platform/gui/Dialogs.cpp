#include "platform/gui/Dialogs.h"

#include "platform/MorphError.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include <algorithm>

namespace morph {

namespace {

class QtDialogs final : public Dialogs {
  public:
    bool showBox(QWidget* parent, BoxKind kind, const QString& caption,
                 const QString& text) override {
        QMessageBox box(parent);
        box.setWindowTitle(caption);
        box.setText(text);
        switch (kind) {
        case BoxKind::Information:
            box.setIcon(QMessageBox::Information);
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case BoxKind::Error:
        case BoxKind::ApplicationError:
            box.setIcon(QMessageBox::Critical);
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case BoxKind::Confirmation:
            box.setIcon(QMessageBox::Question);
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
        }
        const int answer = box.exec();
        return answer == QMessageBox::Ok || answer == QMessageBox::Yes;
    }

    std::optional<QString> chooseFile(QWidget* parent, bool save, const QString& filter,
                                      const QString& folder) override {
        std::optional<ChosenFile> chosen = chooseFileAndFilter(parent, save, filter, folder);
        if (!chosen) {
            return std::nullopt;
        }
        return chosen->path;
    }

    std::optional<ChosenFile> chooseFileAndFilter(QWidget* parent, bool save, const QString& filter,
                                                  const QString& folder) override {
        QFileDialog dialog(parent);
        dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        const QStringList filters = QtFilters(filter);
        dialog.setNameFilters(filters);
        if (!filters.isEmpty()) {
            dialog.selectNameFilter(filters.first());
        }
        dialog.setDirectory(folder);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return std::nullopt;
        }
        return ChosenFile{
            dialog.selectedFiles().first(),
            int(std::max<qsizetype>(filters.indexOf(dialog.selectedNameFilter()), 0))};
    }
};

QtDialogs& RealDialogs() {
    static QtDialogs dialogs;
    return dialogs;
}

Dialogs* installed = nullptr;

std::optional<ChosenFile> RunFileDialog(QWidget* parent, bool save, const QString& filter) {
    std::optional<ChosenFile> chosen =
        CurrentDialogs().chooseFileAndFilter(parent, save, filter, QDir::currentPath());
    if (chosen) {
        const QFileInfo info(chosen->path);
        QDir::setCurrent(info.absolutePath());
        chosen->path = info.absoluteFilePath();
    }
    return chosen;
}

std::optional<QString> PathOf(const std::optional<ChosenFile>& chosen) {
    if (!chosen) {
        return std::nullopt;
    }
    return chosen->path;
}

} // namespace

Dialogs& CurrentDialogs() {
    return installed ? *installed : RealDialogs();
}

void InstallDialogs(Dialogs* dialogs) {
    installed = dialogs;
}

void ShowInformation(QWidget* parent, const QString& text) {
    CurrentDialogs().showBox(parent, BoxKind::Information, QStringLiteral("Information"), text);
}

void ShowError(QWidget* parent, const QString& text) {
    CurrentDialogs().showBox(parent, BoxKind::Error, QStringLiteral("Error"), text);
}

bool Confirm(QWidget* parent, const QString& text) {
    return CurrentDialogs().showBox(parent, BoxKind::Confirmation, QStringLiteral("Confirm"), text);
}

void ShowApplicationError(const QString& message) {
    const QString text = QString::fromStdString(WithFullStop(message.toStdString()));
    CurrentDialogs().showBox(nullptr, BoxKind::ApplicationError, QString::fromLatin1(kProgramTitle),
                             text);
}

std::optional<QString> RunOpenDialog(QWidget* parent, const QString& filter) {
    return PathOf(RunFileDialog(parent, false, filter));
}

std::optional<QString> RunSaveDialog(QWidget* parent, const QString& filter) {
    return PathOf(RunFileDialog(parent, true, filter));
}

std::optional<ChosenFile> RunSaveDialogWithFilter(QWidget* parent, const QString& filter) {
    return RunFileDialog(parent, true, filter);
}

QStringList QtFilters(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString name = parts[i];
        const QString patterns = QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' '));
        if (!name.contains(QLatin1Char('('))) {
            name += QStringLiteral(" (") + patterns + QLatin1Char(')');
        }
        result << name;
    }
    return result;
}

} // namespace morph
