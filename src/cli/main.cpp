// morph-render: renders a morph without windows. See RenderUsage() for the command line.
#include "cli/Render.h"

#include <QString>
#include <QtGlobal>

#include <iostream>
#include <string>
#include <vector>

namespace {

// The image readers report their diagnostics (a truncated file, say) as Qt warnings; the
// reason already comes with our own error message, so only severe messages get through.
void QuietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        std::cerr << message.toStdString() << '\n';
    }
}

} // namespace

int main(int argc, char** argv) {
    qInstallMessageHandler(QuietQtMessages);
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return morph::RunMorphRender(args, std::cout, std::cerr);
}
