#include "tests/hosts/RunProgram.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

ProgramResult runProgram (const std::vector<std::string>& args, const ProgramOptions& options)
{
    ProgramResult result;
    if (args.empty())
        return result;

    // Everything the child needs is made before the fork: after it, the child only execs.
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back (const_cast<char*> (a.c_str()));
    argv.push_back (nullptr);

    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry)
    {
        const std::string text = *entry;
        const auto equals = text.find ('=');
        if (equals != std::string::npos)
            variables[text.substr (0, equals)] = text.substr (equals + 1);
    }
    for (const auto& [name, value] : options.environment)
        if (value.empty())
            variables.erase (name);
        else
            variables[name] = value;
    std::vector<std::string> envText;
    for (const auto& [name, value] : variables)
        envText.push_back (name + "=" + value);
    std::vector<char*> envp;
    for (auto& e : envText)
        envp.push_back (e.data());
    envp.push_back (nullptr);

    int output = -1;
    if (! options.outputPath.empty())
    {
        output = open (options.outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (output < 0)
        {
            result.output = "cannot write " + options.outputPath.string() + ": " + strerror (errno);
            return result;
        }
    }

    const pid_t child = fork();
    if (child == 0)
    {
        setpgid (0, 0);
        if (output >= 0)
        {
            dup2 (output, STDOUT_FILENO);
            dup2 (output, STDERR_FILENO);
        }
        execvpe (argv[0], argv.data(), envp.data());
        _exit (127);
    }
    if (output >= 0)
        close (output);
    if (child < 0)
        return result;
    setpgid (child, 0); // in the parent too, so that the group exists whichever runs first

    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds (options.timeoutSeconds);
    int status = 0;
    bool reaped = false;
    for (;;)
    {
        const bool polling = options.timeoutSeconds > 0 || options.whileRunning != nullptr;
        const pid_t done = waitpid (child, &status, polling ? WNOHANG : 0);
        if (done == child)
        {
            reaped = true;
            break;
        }
        if (done < 0 && errno != EINTR)
            break;
        if (done != 0)
            continue;
        if (options.timeoutSeconds > 0 && std::chrono::steady_clock::now() > deadline)
        {
            result.timedOut = true;
            if (options.beforeKill)
                options.beforeKill (child);
            kill (-child, SIGKILL);
            waitpid (child, &status, 0);
            break;
        }
        if (options.whileRunning)
            options.whileRunning();
        else
            std::this_thread::sleep_for (std::chrono::milliseconds (20));
    }
    kill (-child, SIGKILL); // anything the program left running

    if (reaped && WIFSIGNALED (status))
        result.signal = WTERMSIG (status);
    else if (reaped && WIFEXITED (status))
        result.exitCode = WEXITSTATUS (status);

    if (! options.outputPath.empty())
    {
        std::ifstream log (options.outputPath);
        result.output.assign (std::istreambuf_iterator<char> (log),
                              std::istreambuf_iterator<char>());
    }
    return result;
}
