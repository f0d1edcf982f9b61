#include "DetailsPanel.h"

#include "platform/NativeName.h"
#include "platform/PathRule.h"

#include <QFile>
#include <QRegularExpression>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Qt's long time format carries the time zone, which would not fit the panel and says
// nothing about a file's time.
QString longTimeWithoutZone(const QLocale &locale)
{
    QString format = locale.timeFormat(QLocale::LongFormat);
    static const QRegularExpression zone(QStringLiteral("\\s*\\(?t+\\)?\\s*"));
    format.replace(zone, QStringLiteral(" "));
    return format.trimmed();
}

} // namespace

QString dateTimeText(const QDateTime &when, const QLocale &locale)
{
    const QString date = locale.toString(when.date(), QLocale::ShortFormat);
    if (when.time() == QTime(0, 0))
        return date;
    return date + QLatin1Char('\n') + locale.toString(when.time(), longTimeWithoutZone(locale));
}

PanelTexts detailsOf(const QString &directory, const QStringList &selectedNames,
                     const QLocale &locale)
{
    qint64 total = 0;
    int count = 0;
    qint64 lastModified = 0;
    // One open of the directory, then each name relative to it: much less work than
    // resolving every full path again on a big selection.
    const int dirFd = ::open(nativePath(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (const QString &name : selectedNames) {
        struct stat st = {};
        const int failed = dirFd >= 0
                               ? ::fstatat(dirFd, nativePath(name).constData(), &st, 0)
                               : ::stat(nativePath(fullPath(directory, name)).constData(), &st);
        if (failed != 0 || !S_ISREG(st.st_mode))
            continue;
        total += st.st_size;
        ++count;
        lastModified = st.st_mtim.tv_sec;
    }
    if (dirFd >= 0)
        ::close(dirFd);
    PanelTexts texts;
    if (count > 1)
        texts.dateTime = QStringLiteral("var");
    else if (count == 1)
        texts.dateTime = dateTimeText(QDateTime::fromSecsSinceEpoch(lastModified), locale);
    texts.bytes = groupedBytes(total, locale);
    return texts;
}

PanelReader::PanelReader(QObject *parent, Read read)
    : QObject(parent),
      m_read(read ? std::move(read) : Read([](const QString &directory, const QStringList &names) {
          return detailsOf(directory, names);
      }))
{
}

void PanelReader::ask(const QString &directory, const QStringList &selectedNames)
{
    // Arrow keys held down select faster than a slow disk answers: only the newest is read.
    m_selection.renew();
    const Generation::Ticket ticket = m_selection.ticket();
    // The click's own answer: the newest of what the user looks at goes before the marks.
    Scheduler::instance().start(m_asker, {Lane::now, Weight::light, {}, ticket},
                                [read = m_read, asker = m_asker.link(), ticket, directory,
                                 selectedNames, to = this](const QString &) {
                                    PanelTexts texts = read(directory, selectedNames);
                                    Asker::answer(asker, ticket, [to, texts = std::move(texts)] {
                                        emit to->answered(texts);
                                    });
                                });
}

void PanelReader::drop()
{
    m_selection.renew();
}
