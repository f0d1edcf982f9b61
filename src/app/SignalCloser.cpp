#include "SignalCloser.h"

#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
int pipeFds[2] = {-1, -1};
}

SignalCloser::SignalCloser(QObject *parent) : QObject(parent)
{
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char byte;
        while (::read(pipeFds[0], &byte, 1) > 0) {
        }
        emit closeRequested();
    });
    struct sigaction action
    {
    };
    action.sa_handler = &SignalCloser::handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
}

SignalCloser::~SignalCloser()
{
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        std::signal(sig, SIG_DFL);
}

void SignalCloser::handle(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(pipeFds[1], &byte, 1);
}
