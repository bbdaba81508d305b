#include "platform/gui/Application.h"

#include "platform/MorphError.h"
#include "platform/ScreenSize.h"
#include "platform/gui/Dialogs.h"

#include <QFont>
#include <QScreen>

#include <new>

namespace morph {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QString::fromLatin1(kProgramTitle));
    setQuitOnLastWindowClosed(false);
    // Start values such as the AVI writer's frame size follow the primary screen.
    SetScreenSizeFunction([] {
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (screen == nullptr) {
            return kDefaultScreenSize;
        }
        const QSize size = screen->size();
        return ScreenSize{size.width(), size.height()};
    });
}

Application::~Application() {
    SetScreenSizeFunction({});
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ReportCurrentException();
        return true;
    }
}

void ReportCurrentException() {
    try {
        throw;
    } catch (const MorphError& e) {
        ShowApplicationError(QString::fromStdString(e.message()));
    } catch (const std::bad_alloc&) {
        ShowApplicationError(QStringLiteral("Out of memory"));
    } catch (const std::exception& e) {
        ShowApplicationError(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ShowApplicationError(QStringLiteral("Unknown error"));
    }
}

void ApplyProgramStyle(QApplication& app) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    app.setFont(font);
}

} // namespace morph
