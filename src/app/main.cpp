#include "app/CommandLine.h"
#include "app/Form1.h"
#include "app/Mpris.h"
#include "app/SignalCloser.h"
#include "app/SingleInstance.h"
#include "platform/NativeName.h"

#include <QApplication>
#include <QDir>
#include <QTimer>
#include <cstdio>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(pathFromNative(argv[i]));
    const StartRequest request = parseCommandLine(arguments, QDir::currentPath());
    switch (request.action) {
    case StartRequest::Action::Help:
    case StartRequest::Action::Version:
        std::fputs(qPrintable(request.text), stdout);
        return 0;
    case StartRequest::Action::Error:
        std::fputs(qPrintable(request.text), stderr);
        return 2;
    case StartRequest::Action::Start:
        break;
    }
    // "Open with" while a window is up: the paths go there, and this start ends at once.
    if (!request.paths.isEmpty() && SingleInstance::handOver(request.paths))
        return 0;

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("QuillonSonoret"));
    QApplication::setApplicationName(QStringLiteral("QuillonSonoret"));
    QApplication::setDesktopFileName(QStringLiteral("io.github.quillon.Sonoret"));

    SignalCloser closer(&app);
    SystemServices system;
    Services services = system.services();
    Form1 form(services);
    form.takeInOldLoudnessCache();
    const auto quit = [&form] {
        // Close as the close box does, even from inside a dialog's own loop, then end.
        form.Ende();
        QApplication::exit(0);
    };
    QObject::connect(&closer, &SignalCloser::closeRequested, &form, quit);
    Mpris mpris(form.mediaControl(quit), &app);
    mpris.registerOnBus();
    SingleInstance instance(&app);
    QObject::connect(&instance, &SingleInstance::pathsReceived, &form,
                     [&form](const QStringList &paths) {
                         form.raiseWindow();
                         form.openPaths(paths);
                     });
    instance.listen();
    form.Form_Load();
    // Told to end during the splash or the start-up warning: end now, without showing.
    if (form.ended())
        return 0;
    form.show();
    if (!request.paths.isEmpty())
        QTimer::singleShot(0, &form, [&form, &request] { form.openPaths(request.paths); });
    return app.exec();
}
