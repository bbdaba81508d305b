// A stand-in for the message boxes and file dialogs: records every box, answers
// confirmations and file dialogs from queues filled by the test. A dialog nobody scripted is
// recorded as unexpected and answered with No / cancel.
#pragma once

#include "platform/gui/Dialogs.h"

#include <QString>

#include <deque>
#include <optional>
#include <vector>

namespace morph::test {

struct ShownBox {
    BoxKind kind;
    QString caption;
    QString text;
};

struct FileRequest {
    bool save;
    QString filter;
    QString folder;
};

class ScriptedDialogs final : public Dialogs {
  public:
    // Installs itself for the program's boxes and dialogs while it lives.
    ScriptedDialogs() { InstallDialogs(this); }
    ~ScriptedDialogs() override {
        if (&CurrentDialogs() == this) {
            InstallDialogs(nullptr);
        }
    }
    ScriptedDialogs(const ScriptedDialogs&) = delete;
    ScriptedDialogs& operator=(const ScriptedDialogs&) = delete;

    std::vector<ShownBox> boxes;              // every box, in the order shown
    std::vector<FileRequest> fileRequests;    // every file dialog, in the order run
    std::deque<bool> confirmations;           // answers to "Confirm" boxes: true = Yes
    std::deque<std::optional<QString>> files; // answers to file dialogs: nullopt = cancel
    std::deque<int> filters; // filter entries selected in dialogs that tell it; none: the first
    int unexpected = 0;      // dialogs that found no scripted answer

    bool showBox(QWidget*, BoxKind kind, const QString& caption, const QString& text) override {
        boxes.push_back({kind, caption, text});
        if (kind != BoxKind::Confirmation) {
            return true;
        }
        if (confirmations.empty()) {
            ++unexpected;
            return false;
        }
        const bool answer = confirmations.front();
        confirmations.pop_front();
        return answer;
    }

    std::optional<QString> chooseFile(QWidget*, bool save, const QString& filter,
                                      const QString& folder) override {
        fileRequests.push_back({save, filter, folder});
        if (files.empty()) {
            ++unexpected;
            return std::nullopt;
        }
        const bool chosen = files.front().has_value();
        const QString file = chosen ? *files.front() : QString();
        files.pop_front();
        return chosen ? std::optional<QString>(file) : std::nullopt;
    }

    std::optional<ChosenFile> chooseFileAndFilter(QWidget* parent, bool save, const QString& filter,
                                                  const QString& folder) override {
        std::optional<QString> path = chooseFile(parent, save, filter, folder);
        int entry = 0;
        if (!filters.empty()) {
            entry = filters.front();
            filters.pop_front();
        }
        if (!path) {
            return std::nullopt;
        }
        return ChosenFile{*path, entry};
    }

    // Forgets what was shown and what was scripted.
    void clear() {
        boxes.clear();
        fileRequests.clear();
        confirmations.clear();
        files.clear();
        filters.clear();
        unexpected = 0;
    }
};

} // namespace morph::test
