#ifndef VELMORAN_HOST_CLI_PLATFORM_H_
#define VELMORAN_HOST_CLI_PLATFORM_H_

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace velmoran_host::cli {

// A shared library loaded the way an application loads a plugin: LoadLibraryW on Windows,
// dlopen elsewhere. Paths are UTF-8.
//
// Destroying it gives back the reference taken by Load, but the library stays mapped until the
// process ends, as in an application, which never unloads its plugins. A plugin keeps
// process-wide objects (its registrar manager, its codec registry) for the life of the process,
// and a reply it handed to a thread of its own may still run its code after its registrar is
// gone; unmapping the library would strand the one and crash the other. Everything the library
// set up through the engine must still be torn down before the library is given back.
class SharedLibrary {
 public:
  // Null, with a one-line reason in *error, when the library cannot be loaded.
  static std::unique_ptr<SharedLibrary> Load(const std::string& path, std::string* error);

  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // The exported function of that name, or null.
  template <typename Function>
  Function FindFunction(const char* name) const {
    void (*address)() = FindAddress(name);
    Function function = nullptr;
    // Symbols come back as generic addresses; copying the bits is the one conversion to a
    // function pointer type that every compiler accepts without a warning.
    static_assert(sizeof function == sizeof address, "function pointers differ in size");
    std::memcpy(&function, &address, sizeof function);
    return function;
  }

 private:
  explicit SharedLibrary(void* handle) : handle_(handle) {}
  void (*FindAddress(const char* name) const)();

  void* handle_;
};

// Whether something exists at a UTF-8 path.
bool PathExists(const std::string& path);
// The UTF-8 path joined with a file name.
std::string JoinPath(const std::string& directory, const std::string& name);
// The UTF-8 path made absolute against the working directory (unchanged if that fails).
std::string AbsolutePath(const std::string& path);

// The directory of the running executable; argv0 is the fallback where the system cannot say.
std::string ExecutableDirectory(const char* argv0);

// The command-line arguments after the program name, in UTF-8. On Windows they are taken from
// the wide command line, since argv holds them in the ANSI code page.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

}  // namespace velmoran_host::cli

#endif  // VELMORAN_HOST_CLI_PLATFORM_H_
