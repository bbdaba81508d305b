#include "platform/gui/Application.h"

#include "platform/MorphError.h"
#include "platform/ScreenSize.h"
#include "platform/gui/Dialogs.h"

#include <QFont>
#include <QProxyStyle>
#include <QScreen>
#include <QStyleFactory>

#include <algorithm>
#include <cmath>
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

namespace {

// The general look of the platform's widgets, with the indicators of radio buttons and check
// boxes and the gap to their captions of the size the layout counts on.
class ProgramStyle : public QProxyStyle {
  public:
    ProgramStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        switch (metric) {
        case PM_ExclusiveIndicatorWidth:
        case PM_ExclusiveIndicatorHeight:
        case PM_IndicatorWidth:
        case PM_IndicatorHeight:
            return 13;
        case PM_RadioButtonLabelSpacing:
        case PM_CheckBoxLabelSpacing:
            return 4;
        default:
            return QProxyStyle::pixelMetric(metric, option, widget);
        }
    }
};

} // namespace

int ProgramPixelSize(int layoutPixels) {
    return std::max(1, int(std::lround(layoutPixels * 9.0 / 11.0)));
}

QFont ProgramFont(QFont font, int layoutPixels) {
    font.setFamily(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(ProgramPixelSize(layoutPixels));
    return font;
}

void ApplyProgramStyle(QApplication& app) {
    QApplication::setStyle(new ProgramStyle);
    app.setFont(ProgramFont(QFont(), 11));
}

} // namespace morph
