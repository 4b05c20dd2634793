// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Runs a piece of a test in a child process, so that one that hangs (a read
// from a named pipe, say) is stopped and reported instead of hanging the
// test. Header-only, like HostilePaths.h.

#include <QByteArray>
#include <QDeadlineTimer>

#include <functional>

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kelvane::test {

// What `work` returns when run in a child process; "(still waiting after
// N s)" when it has not ended after `seconds`, and the child is killed.
inline QByteArray answerFromChild(const std::function<QByteArray()> &work, int seconds)
{
    int answer[2];
    if (::pipe(answer) != 0)
        return "(no pipe)";
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(answer[0]);
        ::close(answer[1]);
        return "(no child process)";
    }
    if (child == 0) {
        ::close(answer[0]);
        const QByteArray bytes = work();
        (void)!::write(answer[1], bytes.constData(), size_t(bytes.size()));
        ::_exit(0);
    }
    ::close(answer[1]);
    QByteArray bytes;
    bool hung = false;
    const QDeadlineTimer deadline(seconds * 1000);
    for (;;) {
        pollfd wait {answer[0], POLLIN, 0};
        const int ready = ::poll(&wait, 1, int(deadline.remainingTime()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            hung = true;
            ::kill(child, SIGKILL);
            break;
        }
        char buffer[4096];
        const ssize_t n = ::read(answer[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        bytes.append(buffer, n);
    }
    ::close(answer[0]);
    ::waitpid(child, nullptr, 0);
    return hung ? "(still waiting after " + QByteArray::number(seconds) + " s)" : bytes;
}

} // namespace kelvane::test
