#include "app/Form1.h"
#include "app/SignalCloser.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("QuillonSonoret"));
    QApplication::setApplicationName(QStringLiteral("QuillonSonoret"));
    QApplication::setDesktopFileName(QStringLiteral("io.github.quillon.Sonoret"));

    SignalCloser closer(&app);
    SystemServices system;
    Form1 form(system.services());
    QObject::connect(&closer, &SignalCloser::closeRequested, &form, [&form] {
        // Close as the close box does, even from inside a dialog's own loop, then end.
        form.Ende();
        QApplication::exit(0);
    });
    form.Form_Load();
    // Told to end during the splash or the start-up warning: end now, without showing.
    if (form.ended())
        return 0;
    form.show();
    return app.exec();
}
