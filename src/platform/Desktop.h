#pragma once

#include <QString>
#include <QStringList>

// The small services of the desktop session: the beep and starting other programs.
class Desktop
{
public:
    virtual ~Desktop() = default;
    virtual void beep() = 0;
    // Starts program detached with arguments; no shell sees them. False when it cannot start.
    virtual bool startDetached(const QString &program, const QStringList &arguments) = 0;
};

// The desktop's beep and a program started on its own, not waited for.
class SystemDesktop final : public Desktop
{
public:
    void beep() override;
    bool startDetached(const QString &program, const QStringList &arguments) override;
};
