#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QObject;

// The small services of the desktop session: the beep and starting other programs.
class Desktop
{
public:
    virtual ~Desktop() = default;
    virtual void beep() = 0;
    // Starts program detached with arguments; no shell sees them. False when it cannot start.
    virtual bool startDetached(const QString &program, const QStringList &arguments) = 0;
    // Shows folder in the desktop's file manager, started off the window's thread; done is
    // called on context's thread (if it still lives) with "" or why it could not be shown, in
    // one line (no file manager, no such folder).
    virtual void openFolder(const QString &folder, QObject *context,
                            std::function<void(const QString &why)> done) = 0;
};

// The desktop's beep and a program started on its own, not waited for.
class SystemDesktop final : public Desktop
{
public:
    void beep() override;
    bool startDetached(const QString &program, const QStringList &arguments) override;
    void openFolder(const QString &folder, QObject *context,
                    std::function<void(const QString &why)> done) override;
};
