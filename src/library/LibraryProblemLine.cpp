#include "LibraryProblemLine.h"

#include "Library.h"

#include <QEvent>
#include <QTimer>

LibraryProblemLine::LibraryProblemLine(Library &library, QWidget *window)
    : LineLabel(Overflow::Wrap, window), m_library(library)
{
    QPalette red = palette();
    red.setColor(QPalette::WindowText, Qt::red);
    setPalette(red);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setVisible(false);
    window->installEventFilter(this);
    connect(&m_library, &Library::problemOccurred, this, [this] {
        // The window the user is in shows it; another one of the library's only if that one
        // did not (it is left for the events of this one to pass first).
        if (this->window()->isActiveWindow())
            take();
        else
            QTimer::singleShot(0, this, &LibraryProblemLine::take);
    });
}

void LibraryProblemLine::take()
{
    if (!window()->isVisible())
        return;
    const QStringList lines = m_library.takeUnshownProblems();
    if (!lines.isEmpty())
        display(lines.join(u'\n'), false);
}

void LibraryProblemLine::display(const QString &line, bool told)
{
    m_told = told;
    setText(line);
    setVisible(!line.isEmpty());
}

void LibraryProblemLine::tell(const QString &line)
{
    display(line, true);
}

void LibraryProblemLine::forgetTold()
{
    if (m_told)
        display(QString(), false);
}

bool LibraryProblemLine::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == window()) {
        if (event->type() == QEvent::Show)
            take();
        // Closed, not minimised: it opens again with nothing read before.
        else if (event->type() == QEvent::Hide && !event->spontaneous())
            display(QString(), false);
    }
    return LineLabel::eventFilter(watched, event);
}
