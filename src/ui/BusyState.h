#pragma once

#include <QObject>

// Whether the user is in the middle of something that acts on the lists as they are: the
// splash, a modal window, the chain, a copy or delete, a popup menu, a drag. Work that would
// change the lists under it waits for idle(), which comes once the last of them has ended.
class BusyState final : public QObject
{
    Q_OBJECT
public:
    explicit BusyState(QObject *parent);
    ~BusyState() override;

    bool busy() const;

    // Busy while it lives, for what no window shows: the splash's reading, the chain, a
    // transfer, a drag.
    class Hold
    {
    public:
        explicit Hold(BusyState &state) : m_state(state) { m_state.enter(); }
        ~Hold() { m_state.leave(); }
        Hold(const Hold &) = delete;
        Hold &operator=(const Hold &) = delete;

    private:
        BusyState &m_state;
    };
    void enter() { ++m_holds; }
    void leave();

signals:
    void idle();

protected:
    // A modal window or a popup menu that goes may leave the window idle.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void lookSoon();
    int m_holds = 0;
    bool m_looking = false;
};
