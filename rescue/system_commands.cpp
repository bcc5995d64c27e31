// The system's programs, started with posix_spawn: no shell, the arguments
// as given, stdout and stderr through one pipe, a time bound.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ostream>

#include "rescue/volumes.h"

extern char** environ;

namespace sorbantilex::rescue {
namespace {

using Clock = std::chrono::steady_clock;

// What is kept of a program's output; the rest is read and dropped (a
// chatty program must not fill the memory, nor block on a full pipe).
constexpr std::size_t kKeptOutput = 1 << 20;

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  int get() const { return fd_; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

class FileActions {
 public:
  FileActions() { ::posix_spawn_file_actions_init(&actions_); }
  ~FileActions() { ::posix_spawn_file_actions_destroy(&actions_); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
 public:
  SpawnAttributes() { ::posix_spawnattr_init(&attributes_); }
  ~SpawnAttributes() { ::posix_spawnattr_destroy(&attributes_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  posix_spawnattr_t* get() { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

// This program's environment, with LC_ALL=C when asked.
std::vector<std::string> Environment(bool plain_locale) {
  std::vector<std::string> result;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (plain_locale && std::strncmp(*entry, "LC_ALL=", 7) == 0) continue;
    result.emplace_back(*entry);
  }
  if (plain_locale) result.emplace_back("LC_ALL=C");
  return result;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

class SystemCommandsImpl final : public Commands {
 public:
  CommandResult Run(const std::vector<std::string>& argv) override { return RunWith(argv, {}); }
  CommandResult RunWith(const std::vector<std::string>& argv, const RunOptions& options) override;
};

CommandResult SystemCommandsImpl::RunWith(const std::vector<std::string>& argv,
                                          const RunOptions& options) {
  CommandResult result;
  if (argv.empty()) return result;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    result.output = "pipe: " + std::string(std::strerror(errno));
    return result;
  }
  Fd read_end(ends[0]);
  Fd write_end(ends[1]);

  FileActions actions;
  if (!options.keep_input) {
    ::posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
  }
  ::posix_spawn_file_actions_adddup2(actions.get(), write_end.get(), 1);
  ::posix_spawn_file_actions_adddup2(actions.get(), write_end.get(), 2);

  SpawnAttributes attributes;
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (const int signal_number : {SIGINT, SIGTERM, SIGPIPE, SIGHUP, SIGQUIT, SIGCHLD}) {
    sigaddset(&defaults, signal_number);
  }
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  // A program of its own group can be killed with whatever it started; one
  // that reads the terminal must stay in the terminal's foreground group.
  if (!options.keep_input) {
    flags |= POSIX_SPAWN_SETPGROUP;
    ::posix_spawnattr_setpgroup(attributes.get(), 0);
  }
  ::posix_spawnattr_setflags(attributes.get(), flags);
  ::posix_spawnattr_setsigmask(attributes.get(), &none);
  ::posix_spawnattr_setsigdefault(attributes.get(), &defaults);

  std::vector<std::string> arguments = argv;
  std::vector<std::string> environment = Environment(options.plain_locale);
  std::vector<char*> argument_pointers = Pointers(arguments);
  std::vector<char*> environment_pointers = Pointers(environment);
  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, argv.front().c_str(), actions.get(), attributes.get(),
                                     argument_pointers.data(), environment_pointers.data());
  write_end.Close();
  if (spawned != 0) {
    result.output = argv.front() + ": " + std::strerror(spawned);
    return result;
  }

  const auto started = Clock::now();
  const bool bounded = options.time_limit.count() > 0;
  bool killed = false;
  bool exited = false;
  int wait_status = 0;
  char buffer[8192];
  const auto take = [&](std::size_t size) {
    if (options.shown != nullptr) {
      options.shown->write(buffer, static_cast<std::streamsize>(size));
      options.shown->flush();
    }
    if (result.output.size() < kKeptOutput) {
      result.output.append(buffer, std::min(size, kKeptOutput - result.output.size()));
    }
  };
  // Read until every writer has closed the pipe, or the program has ended
  // (a daemon it left, as ntfs-3g leaves one, may hold the pipe no longer
  // than it; what is already in the pipe is still read).
  while (true) {
    pollfd poll_fd{read_end.get(), POLLIN, 0};
    if (::poll(&poll_fd, 1, 200) > 0) {
      const ssize_t got = ::read(read_end.get(), buffer, sizeof buffer);
      if (got > 0) {
        take(static_cast<std::size_t>(got));
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        break;
      }
    }
    if (::waitpid(pid, &wait_status, WNOHANG) == pid) {
      exited = true;
      ::fcntl(read_end.get(), F_SETFL, O_NONBLOCK);
      ssize_t got = 0;
      while ((got = ::read(read_end.get(), buffer, sizeof buffer)) > 0) {
        take(static_cast<std::size_t>(got));
      }
      break;
    }
    if (bounded && !killed && Clock::now() - started > options.time_limit) {
      killed = true;
      ::kill(options.keep_input ? pid : -pid, SIGKILL);
    }
  }
  read_end.Close();
  while (!exited) {
    if (::waitpid(pid, &wait_status, 0) == pid) {
      exited = true;
    } else if (errno != EINTR) {
      return result;
    }
  }
  if (killed) {
    result.output += "\n(" + argv.front() + ": killed after " +
                     std::to_string(options.time_limit.count()) + " s)\n";
    return result;
  }
  if (WIFEXITED(wait_status)) result.status = WEXITSTATUS(wait_status);
  return result;
}

}  // namespace

std::unique_ptr<Commands> SystemCommands() { return std::make_unique<SystemCommandsImpl>(); }

}  // namespace sorbantilex::rescue
