#include "child_process.h"

#include <signal.h>
#include <sys/wait.h>

namespace testsupport {

std::string inChild(const std::function<std::string(int)>& body, useconds_t killAfter)
{
    int fds[2];
    if (pipe(fds) < 0)
        return "pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const std::string result = body(fds[1]);
        _exit(write(fds[1], result.data(), result.size()) < 0 ? 3 : result.empty() ? 0 : 1);
    }
    close(fds[1]);
    if (killAfter) {
        usleep(killAfter);
        kill(pid, SIGKILL);
    }
    std::string out;
    char buf[512];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
        out.append(buf, size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status))
        return "child died of signal " + std::to_string(WTERMSIG(status)) + " " + out;
    if (WEXITSTATUS(status) != 0 && out.empty())
        return "child exited with " + std::to_string(WEXITSTATUS(status));
    return out;
}

}  // namespace testsupport
