// The animation window's Make > "Video File...": the sequence as a playable video or
// animation, or as a folder of PNG frames.
#include "animation/AnimationWindow.h"

#include "animation/PutNewFileDialog.h"
#include "editor/Program.h"
#include "platform/OutputSet.h"
#include "platform/PngFrames.h"
#include "platform/gui/Dialogs.h"
#include "video/VideoWriter.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QKeySequence>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace morph {

namespace {

// The folder of PNG frames is the last entry of the same save dialog rather than an item of
// its own: it is the same export (the frames in the direction's order, the same progress and
// cancel) to another kind of target, and one dialog lets the user pick the kind and the place
// in one go. The name given with this entry names the folder; frame times and sound do not
// apply to pictures, so neither is asked for.
const char* const kPngFramesFilter = "Folder of PNG frames (*)|*";

QString VideoFilter() {
    QStringList entries;
    for (const VideoFormatInfo& info : VideoFormats()) {
        entries << QString::fromLatin1(info.filter)
                << QStringLiteral("*") + QString::fromLatin1(info.extension);
    }
    return entries.join(QLatin1Char('|')) + QLatin1Char('|') +
           QString::fromLatin1(kPngFramesFilter);
}

bool IsPngFramesEntry(int filter) {
    return filter >= int(VideoFormats().size());
}

// The video file a confirmed dialog names: a name without an extension takes the one of the
// selected filter entry; a name with one keeps it, and the writer refuses an unknown one.
QString VideoPath(const ChosenFile& chosen) {
    const QString name = QFileInfo(chosen.path).fileName();
    if (name.lastIndexOf(QLatin1Char('.')) > 0) {
        return chosen.path;
    }
    const std::size_t entry = std::size_t(std::max(chosen.filter, 0));
    return chosen.path + QString::fromLatin1(VideoFormats()[entry].extension);
}

// Stops a PNG folder export between two frames.
struct PngFramesCancelled {};

} // namespace

// While an export yields to the event loop: the commands that would replace, add or write
// frames are disabled, the export's own item turns into its cancel (also on Escape), and
// everything is put back, the status label blanked, however the export ends.
class VideoExportLock {
  public:
    explicit VideoExportLock(TForm5& form) : form_(form) {
        form_.VideoExportRunning = true;
        form_.videoCancelRequested_ = false;
        for (QAction* action :
             {form.Open1, form.Save1, form.SaveAs1, form.AviFiLe1, form.vQvFile1, form.Picture1}) {
            actions_.emplace_back(action, action->isEnabled());
            action->setEnabled(false);
        }
        if (Form8) {
            putEnabled_ = Form8->Button1->isEnabled();
            Form8->Button1->setEnabled(false);
        }
        form_.VideoFile1->setText(QStringLiteral("Cancel Video File"));
        form_.VideoFile1->setShortcut(QKeySequence(Qt::Key_Escape));
    }
    ~VideoExportLock() {
        form_.VideoFile1->setShortcut(QKeySequence());
        form_.VideoFile1->setText(QStringLiteral("Video File..."));
        if (Form8) {
            Form8->Button1->setEnabled(putEnabled_);
        }
        for (const auto& [action, enabled] : actions_) {
            action->setEnabled(enabled);
        }
        form_.VideoExportRunning = false;
        form_.SetStatus(QStringLiteral(" "));
    }
    VideoExportLock(const VideoExportLock&) = delete;
    VideoExportLock& operator=(const VideoExportLock&) = delete;

  private:
    TForm5& form_;
    std::vector<std::pair<QAction*, bool>> actions_;
    bool putEnabled_ = true;
};

void TForm5::VideoFile1Click() {
    if (VideoExportRunning) {
        videoCancelRequested_ = true;
        return;
    }
    const std::optional<ChosenFile> chosen = RunSaveDialogWithFilter(this, VideoFilter());
    if (!chosen || FrameCount == 0) {
        return;
    }
    if (IsPngFramesEntry(chosen->filter)) {
        ExportPngFrames(chosen->path, DirectionOrder());
    } else {
        ExportVideo(VideoPath(*chosen));
    }
}

// The export runs on a thread of its own, so that the window goes on handling events (the
// cancel among them, and playback) while a frame is encoded, however long that takes. The
// frames it reads stay as they are: the lock keeps every command that would change them off,
// and the window only reads them meanwhile. After each frame the worker waits until the
// window has shown the step: the label shows every step in turn, and a cancel asked for
// while a step is shown stops the export right there.
void TForm5::RunExport(const std::function<void(const ExportStep&)>& work) {
    struct Handshake {
        std::mutex mutex;
        std::condition_variable changed;
        bool shown = false;
        bool abandoned = false; // the window stopped waiting: the program is quitting
    };
    const auto handshake = std::make_shared<Handshake>();
    QObject relay; // queued calls through it are dropped once it is gone
    QEventLoop loop;
    const ExportStep step = [this, handshake, &relay](const QString& text) {
        {
            const std::lock_guard lock(handshake->mutex);
            handshake->shown = false;
        }
        QMetaObject::invokeMethod(
            &relay,
            [this, handshake, text] {
                SetStatus(text);
                {
                    const std::lock_guard lock(handshake->mutex);
                    handshake->shown = true;
                }
                handshake->changed.notify_all();
            },
            Qt::QueuedConnection);
        std::unique_lock lock(handshake->mutex);
        handshake->changed.wait(lock, [&] { return handshake->shown || handshake->abandoned; });
        return videoCancelRequested_.load() || handshake->abandoned;
    };
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work(step);
        } catch (...) {
            failure = std::current_exception();
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    // Also ends early when the program quits; the export then stops at its next step.
    loop.exec();
    {
        const std::lock_guard lock(handshake->mutex);
        handshake->abandoned = true;
    }
    handshake->changed.notify_all();
    worker.join();
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void TForm5::ExportVideo(const QString& path) {
    const std::string target = path.toStdString();
    VideoSettings settings;
    settings.width = Image1->width();
    settings.height = Image1->height();
    settings.frameTimeMs = Timer1->interval();
    // A name, format or frame time the writer cannot take is refused before any question.
    CheckVideoSettings(target, settings);
    const VideoFormatInfo& info = FormatInfo(*VideoFormatOfPath(target));
    // Only a format that carries sound is given the choice of a sound file.
    if (info.soundEncoder != nullptr &&
        Confirm(this, QStringLiteral(" Would you like to Put Wav File In Your Video? "))) {
        const std::optional<QString> wav =
            RunOpenDialog(this, QStringLiteral("WAV files (*.wav)|*.wav"));
        if (wav) {
            settings.wavPath = wav->toStdString();
        }
    }
    repaint();
    // The frames are taken now, after the questions, and the lock keeps them in place.
    const VideoExportLock lock(*this);
    const std::vector<const Bitmap*> frames = DirectionOrder();
    settings.expectedFrames = int(frames.size());
    const int total = int(frames.size());
    try {
        RunExport([&](const ExportStep& step) {
            settings.progress = [&](const VideoProgressStep& progress) {
                return step((progress.phase == VideoPhase::Encoding
                                 ? QStringLiteral("Building Video... ")
                                 : QStringLiteral("Finishing Video... ")) +
                            QString::number(progress.done) + QLatin1Char('/') +
                            QString::number(progress.total));
            };
            if (step(QStringLiteral("Building Video... 0/") + QString::number(total))) {
                return;
            }
            // Written to a temporary beside the target and renamed over it at the end: a
            // failure or a cancel leaves no part of the video and keeps an older file.
            WriteVideo(target, settings, frames);
        });
    } catch (const VideoCancelled&) {
        // The user asked for it; nothing to report.
    }
}

void TForm5::ExportPngFrames(const QString& folder, const std::vector<const Bitmap*>& frames) {
    repaint();
    const VideoExportLock lock(*this);
    const QString of = QLatin1Char('/') + QString::number(frames.size());
    try {
        RunExport([&](const ExportStep& step) {
            if (step(QStringLiteral("Writing Frames... 0") + of)) {
                return;
            }
            // The frames appear together or not at all: a failure or a cancel takes away the
            // ones written and puts back those they replaced, and a folder made for them.
            OutputSet outputs;
            WritePngFrames(frames, folder.toStdString(), outputs, [&](int written) {
                if (step(QStringLiteral("Writing Frames... ") + QString::number(written) + of)) {
                    throw PngFramesCancelled();
                }
            });
            outputs.keep();
        });
    } catch (const PngFramesCancelled&) {
        // The user asked for it; nothing to report.
    }
}

} // namespace morph
