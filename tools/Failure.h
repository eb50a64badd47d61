// Failure.h - how the program ends when something is wrong: one line for the
// user and an exit status that says which kind of thing went wrong.
#ifndef CORVANE_TOOLS_FAILURE_H
#define CORVANE_TOOLS_FAILURE_H

#include <stdexcept>
#include <string>

namespace corvane::cli {

// Exit statuses.  Scripts may rely on them; the help text lists them.
enum Exit : int {
  kExitOk = 0,
  kExitResult = 1,  // the plug-in reported a non-zero result code
  kExitUsage = 2,   // options: unknown, missing, or with values the command cannot take
  kExitInput = 3,   // input data: malformed CSV, bad UTF-8, a character the build cannot hold
  kExitFiles = 4,   // files: input unreadable, output unwritable, plug-in file not found or not loadable
};

class Failure : public std::runtime_error {
 public:
  Failure(Exit status, const std::string& message) : std::runtime_error(message), status_(status) {}
  Exit status() const noexcept { return status_; }

 private:
  Exit status_;
};

// A warning on standard error; the command goes on.
void warn(const std::string& message);

}  // namespace corvane::cli

#endif
