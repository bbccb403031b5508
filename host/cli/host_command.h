#ifndef VELMORAN_HOST_CLI_HOST_COMMAND_H_
#define VELMORAN_HOST_CLI_HOST_COMMAND_H_

#include <chrono>
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace velmoran_host::cli {

// Exit codes of velmoran-host.
enum ExitCode : int {
  // The command did its work. For call: an answer arrived and was printed, whatever it was
  // (a value, an error, or not implemented).
  kExitOk = 0,
  // The command line or its input was wrong: unknown command or option, malformed JSON or hex,
  // a bad --windows-version.
  kExitUsage = 1,
  // The plugin library could not be loaded, or does not export the entry point.
  kExitLoadFailure = 2,
  // The plugin misbehaved: no answer, an answer that is not a response envelope, or a misuse of
  // the engine interface.
  kExitPluginFault = 3,
};

// Where velmoran-host looks for the plugin when --plugin is not given: the plugin library next
// to the executable if there is one, else the one the build made.
struct HostEnvironment {
  std::string executable_directory;
  std::string plugin_file_name;   // velmoran_plugin.dll, libvelmoran_plugin.so, ...
  std::string built_plugin_path;  // where the build put it
  // How long call waits for an answer. A plugin may answer later, from another thread; one that
  // has not answered by then is taken to never answer.
  std::chrono::milliseconds answer_timeout = std::chrono::seconds(10);
};

// The environment of the installed tool: its own directory, and the plugin of this build.
HostEnvironment DefaultHostEnvironment(const char* argv0);

struct WindowsVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint16_t service_pack_major = 0;
};

// "MAJOR.MINOR" or "MAJOR.MINOR.SP", decimal. False, with a one-line reason, otherwise.
bool ParseWindowsVersion(std::string_view text, WindowsVersion* version, std::string* error);

// The text of velmoran-host --help.
std::string UsageText();

// Runs velmoran-host with the arguments after the program name: writes results to out and
// one-line reports of bad input to err, reads from in where an argument is "-", and returns the
// exit code. The library's own diagnostic lines go to the process's standard error as always.
// Whatever a call set up (plugin, registrar, engine, emulated Windows version, misuse handler)
// is torn down or restored before this returns.
int RunHostCommand(const std::vector<std::string>& arguments, const HostEnvironment& environment,
                   std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace velmoran_host::cli

#endif  // VELMORAN_HOST_CLI_HOST_COMMAND_H_
