#include "host/cli/platform.h"

#include <cstdint>
#include <filesystem>
#include <system_error>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// shellapi.h needs what windows.h declares.
#include <shellapi.h>
#else
#include <dlfcn.h>
#if defined(__APPLE__)
#include <mach-o/dyld.h>
#elif defined(__linux__)
#include <unistd.h>
#endif
#endif

namespace velmoran_host::cli {

namespace {

std::filesystem::path PathFromUtf8(const std::string& path) {
  return std::filesystem::u8path(path);
}

#if defined(_WIN32)

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string Narrow(const wchar_t* text) {
  int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return std::string();
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), length, nullptr, nullptr);
  narrow.resize(static_cast<size_t>(length - 1));
  return narrow;
}

std::string SystemErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text = length > 0 ? Narrow(buffer) : std::string();
  if (buffer != nullptr) LocalFree(buffer);
  // System messages end with a line break, which would split the one-line report.
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return "error " + std::to_string(code) + (text.empty() ? "" : ": " + text);
}

#endif

}  // namespace

std::unique_ptr<SharedLibrary> SharedLibrary::Load(const std::string& path, std::string* error) {
#if defined(_WIN32)
  std::wstring wide_path = Widen(path);
  HMODULE module = LoadLibraryW(wide_path.c_str());
  if (module == nullptr) {
    *error = SystemErrorText(GetLastError());
    return nullptr;
  }
  HMODULE pinned = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, wide_path.c_str(), &pinned);
  return std::unique_ptr<SharedLibrary>(new SharedLibrary(module));
#else
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) {
    const char* reason = dlerror();
    *error = reason != nullptr ? reason : "unknown error";
    return nullptr;
  }
  return std::unique_ptr<SharedLibrary>(new SharedLibrary(handle));
#endif
}

SharedLibrary::~SharedLibrary() {
#if defined(_WIN32)
  FreeLibrary(static_cast<HMODULE>(handle_));
#else
  dlclose(handle_);
#endif
}

void (*SharedLibrary::FindAddress(const char* name) const)() {
  void (*address)() = nullptr;
#if defined(_WIN32)
  FARPROC symbol = GetProcAddress(static_cast<HMODULE>(handle_), name);
#else
  void* symbol = dlsym(handle_, name);
#endif
  static_assert(sizeof symbol == sizeof address, "symbol addresses differ in size");
  std::memcpy(&address, &symbol, sizeof address);
  return address;
}

bool PathExists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(PathFromUtf8(path), error);
}

std::string JoinPath(const std::string& directory, const std::string& name) {
  return (PathFromUtf8(directory) / PathFromUtf8(name)).u8string();
}

std::string AbsolutePath(const std::string& path) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(PathFromUtf8(path), error);
  return error ? path : absolute.u8string();
}

std::string ExecutableDirectory(const char* argv0) {
  std::filesystem::path executable;
#if defined(_WIN32)
  std::wstring buffer(MAX_PATH, L'\0');
  while (true) {
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) break;
    if (length < buffer.size()) {
      buffer.resize(length);
      executable = std::filesystem::path(buffer);
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
#elif defined(__APPLE__)
  uint32_t size = 0;
  _NSGetExecutablePath(nullptr, &size);
  std::string buffer(size, '\0');
  if (_NSGetExecutablePath(buffer.data(), &size) == 0) {
    executable = std::filesystem::path(buffer.c_str());
  }
#elif defined(__linux__)
  std::error_code error;
  executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) executable.clear();
#endif
  if (executable.empty() && argv0 != nullptr) executable = PathFromUtf8(argv0);
  return executable.parent_path().u8string();
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  std::vector<std::string> arguments;
#if defined(_WIN32)
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide != nullptr) {
    for (int i = 1; i < count; ++i) arguments.push_back(Narrow(wide[i]));
    LocalFree(wide);
    return arguments;
  }
#endif
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return arguments;
}

}  // namespace velmoran_host::cli
