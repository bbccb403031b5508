#include "host/cli/host_command.h"

#include <chrono>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "codec/byte_streams.h"
#include "codec/encodable_value.h"
#include "codec/standard_codec_serializer.h"
#include "host/cli/hex.h"
#include "host/cli/message_annotation.h"
#include "host/cli/platform.h"
#include "host/cli/value_text.h"
#include "host/headless_engine.h"
#include "method/method_call.h"
#include "method/method_result.h"
#include "method/standard_method_codec.h"

#if !defined(_WIN32)
#include "winver/winver_emulation.h"
#endif

#if !defined(VELMORAN_PLUGIN_FILE_NAME)
#define VELMORAN_PLUGIN_FILE_NAME ""
#endif
#if !defined(VELMORAN_BUILT_PLUGIN_PATH)
#define VELMORAN_BUILT_PLUGIN_PATH ""
#endif

namespace velmoran_host::cli {

namespace {

using flutter::EncodableValue;

constexpr char kProgram[] = "velmoran-host";
constexpr char kEntryPoint[] = "VelmoranPluginRegisterWithRegistrar";
constexpr char kDefaultChannel[] = "velmoran";

using RegisterFunction = void (*)(FlutterDesktopPluginRegistrarRef);

int Report(std::ostream& err, ExitCode code, const std::string& message) {
  err << kProgram << ": " << message << '\n';
  return code;
}

// The command line after the command name.
struct CommandLine {
  std::vector<std::pair<std::string, std::string>> options;  // name (with --), value
  std::vector<std::string> operands;

  const std::string* Option(const std::string& name) const {
    for (const auto& [option, value] : options) {
      if (option == name) return &value;
    }
    return nullptr;
  }
};

// Options are long ones only, as --name VALUE or --name=VALUE, so that operands such as the
// JSON number -1 or "-" for standard input never look like options. "--" ends the options.
bool ParseCommandLine(const std::vector<std::string>& arguments,
                      const std::vector<std::string>& known_options, CommandLine* command_line,
                      std::string* error) {
  const std::string& command = arguments[0];
  bool options_ended = false;
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (!options_ended && argument == "--") {
      options_ended = true;
      continue;
    }
    if (options_ended || argument.size() <= 2 || argument.compare(0, 2, "--") != 0) {
      command_line->operands.push_back(argument);
      continue;
    }
    size_t equals = argument.find('=');
    std::string name = argument.substr(0, equals);
    bool known = false;
    for (const std::string& option : known_options) known = known || option == name;
    if (!known) {
      *error = command + " has no option " + name + " (" + kProgram + " --help lists them)";
      return false;
    }
    if (command_line->Option(name) != nullptr) {
      *error = name + " is given twice";
      return false;
    }
    std::string value;
    if (equals != std::string::npos) {
      value = argument.substr(equals + 1);
    } else if (i + 1 < arguments.size()) {
      value = arguments[++i];
    } else {
      *error = name + " needs a value";
      return false;
    }
    command_line->options.emplace_back(name, std::move(value));
  }
  return true;
}

// The operands joined by single spaces, so that hex or JSON split by the shell reads as one
// text; "-" alone reads standard input instead.
std::string OperandText(const std::vector<std::string>& operands, size_t first, std::istream& in) {
  if (operands.size() == first + 1 && operands[first] == "-") {
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::string text;
  for (size_t i = first; i < operands.size(); ++i) {
    if (i > first) text += ' ';
    text += operands[i];
  }
  return text;
}

bool ParseDecimal(std::string_view text, uint64_t limit, uint64_t* number) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > limit) return false;
  *number = value;
  return true;
}

// The answer a plugin gave, as DecodeAndProcessResponseEnvelope hands it over.
class AnswerRecorder : public flutter::MethodResult<EncodableValue> {
 public:
  enum class Kind { kNone, kSuccess, kError };

  Kind kind = Kind::kNone;
  bool has_value = false;
  EncodableValue value;  // the success value, or the error details
  std::string error_code;
  std::string error_message;

  // How the answer prints: the value itself; error followed by a JSON object; see UsageText.
  std::string Text() const {
    std::string shown = has_value ? FormatValue(value) : "null";
    if (kind == Kind::kSuccess) return shown;
    return "error {\"code\": " + QuoteString(error_code) +
           ", \"message\": " + QuoteString(error_message) + ", \"details\": " + shown + "}";
  }

 protected:
  void OnSuccess(const EncodableValue* result) override {
    kind = Kind::kSuccess;
    Keep(result);
  }
  void OnError(const std::string& code, const std::string& message,
               const EncodableValue* details) override {
    kind = Kind::kError;
    error_code = code;
    error_message = message;
    Keep(details);
  }
  // An envelope never decodes to this; an empty response is told apart before decoding.
  void OnNotImplemented() override {}

 private:
  void Keep(const EncodableValue* result) {
    has_value = result != nullptr;
    if (result != nullptr) value = *result;
  }
};

// Collects the engine's misuse reports for the duration of a call, instead of the default of
// aborting, so that the tool can still tear everything down and say what went wrong.
class MisuseCollector {
 public:
  MisuseCollector()
      : reports_(std::make_shared<Reports>()),
        previous_(SetMisuseHandler([reports = reports_](const std::string& description) {
          std::lock_guard<std::mutex> guard(reports->mutex);
          reports->descriptions.push_back(description);
        })) {}
  ~MisuseCollector() { SetMisuseHandler(previous_); }
  MisuseCollector(const MisuseCollector&) = delete;
  MisuseCollector& operator=(const MisuseCollector&) = delete;

  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> guard(reports_->mutex);
    return std::move(reports_->descriptions);
  }

 private:
  struct Reports {
    std::mutex mutex;
    std::vector<std::string> descriptions;
  };
  std::shared_ptr<Reports> reports_;
  MisuseHandler previous_;
};

#if !defined(_WIN32)
// Makes the emulated system report a version for the duration of a call, then what it
// reported before.
class EmulatedWindowsVersion {
 public:
  explicit EmulatedWindowsVersion(const WindowsVersion& version)
      : previous_(VelmoranGetEmulatedWindowsVersion()) {
    VelmoranEmulateWindowsVersion(version.major, version.minor, version.service_pack_major);
  }
  ~EmulatedWindowsVersion() { VelmoranSetEmulatedWindowsVersion(&previous_); }
  EmulatedWindowsVersion(const EmulatedWindowsVersion&) = delete;
  EmulatedWindowsVersion& operator=(const EmulatedWindowsVersion&) = delete;

 private:
  VelmoranWindowsVersion previous_;
};
#endif

std::string DefaultPluginPath(const HostEnvironment& environment) {
  if (!environment.executable_directory.empty() && !environment.plugin_file_name.empty()) {
    std::string beside = JoinPath(environment.executable_directory, environment.plugin_file_name);
    if (PathExists(beside)) return beside;
  }
  return environment.built_plugin_path;
}

int RunCall(const std::vector<std::string>& arguments, const HostEnvironment& environment,
            std::istream& in, std::ostream& out, std::ostream& err) {
  CommandLine command_line;
  std::string error;
  if (!ParseCommandLine(arguments, {"--plugin", "--windows-version", "--channel"}, &command_line,
                        &error)) {
    return Report(err, kExitUsage, error);
  }
  if (command_line.operands.empty()) {
    return Report(err, kExitUsage, "call needs a METHOD (" + std::string(kProgram) + " --help)");
  }
  const std::string& method = command_line.operands[0];
  std::unique_ptr<EncodableValue> method_arguments;
  if (command_line.operands.size() > 1) {
    ParsedValue parsed = ParseJsonValue(OperandText(command_line.operands, 1, in));
    if (!parsed.ok) return Report(err, kExitUsage, "ARGS: " + parsed.error);
    method_arguments = std::make_unique<EncodableValue>(std::move(parsed.value));
  }

#if !defined(_WIN32)
  std::optional<WindowsVersion> windows_version;
#endif
  if (const std::string* text = command_line.Option("--windows-version")) {
#if defined(_WIN32)
    (void)text;
    return Report(err, kExitUsage,
                  "--windows-version is not available on Windows, where the plugin asks the "
                  "system itself");
#else
    WindowsVersion version;
    if (!ParseWindowsVersion(*text, &version, &error)) {
      return Report(err, kExitUsage, "--windows-version: " + error);
    }
    windows_version = version;
#endif
  }

  const std::string* channel_option = command_line.Option("--channel");
  std::string channel = channel_option != nullptr ? *channel_option : kDefaultChannel;
  const std::string* plugin_option = command_line.Option("--plugin");
  std::string plugin = plugin_option != nullptr ? *plugin_option : DefaultPluginPath(environment);
  if (plugin.empty()) {
    return Report(err, kExitLoadFailure,
                  "this build has no plugin library; name one with --plugin");
  }
  if (!PathExists(plugin)) {
    return Report(err, kExitLoadFailure, "no plugin library at " + plugin);
  }

  std::vector<uint8_t> message = *flutter::StandardMethodCodec::GetInstance().EncodeMethodCall(
      flutter::MethodCall<EncodableValue>(method, std::move(method_arguments)));

  // Set up in this order and torn down in reverse. The engine lives in the block below, so that
  // its registrar, and with it the plugin, is gone before the library is given back.
  MisuseCollector misuses;
#if !defined(_WIN32)
  std::optional<EmulatedWindowsVersion> emulated_version;
  if (windows_version.has_value()) emulated_version.emplace(*windows_version);
#endif
  // A bare file name would be searched for on the library path rather than taken from here.
  std::unique_ptr<SharedLibrary> library = SharedLibrary::Load(AbsolutePath(plugin), &error);
  if (library == nullptr) {
    return Report(err, kExitLoadFailure, "cannot load " + plugin + ": " + error);
  }
  auto register_with_registrar = library->FindFunction<RegisterFunction>(kEntryPoint);
  if (register_with_registrar == nullptr) {
    return Report(err, kExitLoadFailure, plugin + " does not export " + kEntryPoint);
  }

  bool answered = false;
  bool handled = false;
  std::vector<uint8_t> response;
  {
    HeadlessEngine engine;
    FlutterDesktopPluginRegistrarRef registrar = engine.CreateRegistrar();
    register_with_registrar(registrar);
    Delivery delivery = engine.Deliver(channel, std::move(message), registrar);
    answered = delivery.WaitForResponse(environment.answer_timeout);
    handled = delivery.handled();
    response = delivery.response();
    // Fires the plugin's destruction handler, which destroys the plugin.
    engine.DestroyRegistrar(registrar);
  }
  library.reset();

  int exit_code = kExitOk;
  if (!answered) {
    exit_code = Report(err, kExitPluginFault,
                       "no answer on channel \"" + channel + "\" within " +
                           std::to_string(environment.answer_timeout.count()) + " ms");
  } else if (response.empty()) {
    // The engine answers a message on a channel nobody listens on with an empty response
    // itself; the application sees that as not implemented too.
    if (!handled) {
      err << kProgram << ": nothing listens on channel \"" << channel
          << "\"; the engine answered for it\n";
    }
    out << "not implemented\n";
  } else {
    AnswerRecorder answer;
    if (flutter::StandardMethodCodec::GetInstance().DecodeAndProcessResponseEnvelope(
            response.data(), response.size(), &answer) &&
        answer.kind != AnswerRecorder::Kind::kNone) {
      out << answer.Text() << '\n';
    } else {
      exit_code = Report(err, kExitPluginFault,
                         "the answer is not a response envelope: " + FormatHex(response));
    }
  }
  for (const std::string& misuse : misuses.Take()) {
    exit_code = Report(err, kExitPluginFault, "the plugin misused the engine: " + misuse);
  }
  return exit_code;
}

int RunDecode(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out,
              std::ostream& err) {
  CommandLine command_line;
  std::string error;
  if (!ParseCommandLine(arguments, {"--as"}, &command_line, &error)) {
    return Report(err, kExitUsage, error);
  }
  MessageLayout layout = MessageLayout::kValues;
  if (const std::string* name = command_line.Option("--as")) {
    if (!ParseMessageLayout(*name, &layout)) {
      return Report(err, kExitUsage, "--as takes value, call or envelope, not \"" + *name + "\"");
    }
  }
  if (command_line.operands.empty()) {
    return Report(err, kExitUsage, "decode needs HEX, or - to read it from standard input");
  }
  ParsedHex hex = ParseHex(OperandText(command_line.operands, 0, in));
  if (!hex.ok) return Report(err, kExitUsage, hex.error);
  WriteAnnotatedMessage(hex.bytes.data(), hex.bytes.size(), layout, out);
  return kExitOk;
}

int RunEncode(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out,
              std::ostream& err) {
  CommandLine command_line;
  std::string error;
  if (!ParseCommandLine(arguments, {}, &command_line, &error)) {
    return Report(err, kExitUsage, error);
  }
  if (command_line.operands.empty()) {
    return Report(err, kExitUsage, "encode needs JSON, or - to read it from standard input");
  }
  ParsedValue parsed = ParseJsonValue(OperandText(command_line.operands, 0, in));
  if (!parsed.ok) return Report(err, kExitUsage, parsed.error);
  std::vector<uint8_t> bytes;
  flutter::ByteBufferStreamWriter writer(&bytes);
  flutter::StandardCodecSerializer::GetInstance().WriteValue(parsed.value, &writer);
  out << FormatHex(bytes) << '\n';
  return kExitOk;
}

}  // namespace

HostEnvironment DefaultHostEnvironment(const char* argv0) {
  HostEnvironment environment;
  environment.executable_directory = ExecutableDirectory(argv0);
  environment.plugin_file_name = VELMORAN_PLUGIN_FILE_NAME;
  environment.built_plugin_path = VELMORAN_BUILT_PLUGIN_PATH;
  return environment;
}

bool ParseWindowsVersion(std::string_view text, WindowsVersion* version, std::string* error) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (true) {
    size_t dot = text.find('.', start);
    parts.push_back(text.substr(start, dot == std::string_view::npos ? dot : dot - start));
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  if (parts.size() < 2 || parts.size() > 3) {
    *error = "\"" + std::string(text) + "\" is not MAJOR.MINOR or MAJOR.MINOR.SP";
    return false;
  }
  uint64_t numbers[3] = {0, 0, 0};
  const uint64_t limits[3] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFu};
  const char* names[3] = {"major version", "minor version", "service pack"};
  for (size_t i = 0; i < parts.size(); ++i) {
    if (!ParseDecimal(parts[i], limits[i], &numbers[i])) {
      *error = "the " + std::string(names[i]) + " \"" + std::string(parts[i]) +
               "\" is not a decimal number from 0 to " + std::to_string(limits[i]);
      return false;
    }
  }
  version->major = static_cast<uint32_t>(numbers[0]);
  version->minor = static_cast<uint32_t>(numbers[1]);
  version->service_pack_major = static_cast<uint16_t>(numbers[2]);
  return true;
}

std::string UsageText() {
  return R"(Usage:
  velmoran-host call [--plugin PATH] [--windows-version MAJOR.MINOR[.SP]] [--channel NAME]
                     METHOD [ARGS]
  velmoran-host decode [--as value|call|envelope] HEX|-
  velmoran-host encode JSON|-
  velmoran-host --help

call    Loads the plugin library as an application does, registers it with a headless engine,
        sends METHOD with the arguments ARGS (JSON, or - to read it from standard input; none
        when left out) on the channel, and prints the answer on one line:
          a success        its value: JSON where the value has a JSON form ("10", "", 1, 1.5,
                           [..], {"key": ..}), otherwise a readable form that is not JSON:
                           NaN, Infinity, typed lists as int32[1, 2] (also uint8, int64,
                           float32, float64), maps with other keys as {1: true}, string bytes
                           that are not UTF-8 as \xNN; null for a success without a value
          an error         error {"code": "..", "message": "..", "details": VALUE}
          not implemented  not implemented
        --plugin PATH      the plugin library; by default the one next to velmoran-host, or
                           else the one this build made
        --windows-version  the Windows version the plugin sees, e.g. 6.1 or 6.1.1 (only where
                           the version check is emulated, not on Windows)
        --channel NAME     the method channel; by default velmoran
decode  Prints a standard-codec message given in hex (pairs of digits, optionally with 0x in
        front and whitespace between pairs; - reads standard input), one line per value:
          OFFSET  INDENT[ROLE ]type T NAME[, size N (FORM form)][, padding K at P][, NOTE][: VALUE]
        OFFSET is where the type byte is; INDENT two spaces per enclosing list or map; ROLE
        [i] for list elements, key[i] and value[i] for map entries, or the part of a call or
        envelope; FORM 1-byte, 0xFE + 16-bit or 0xFF + 32-bit; padding is the alignment skipped
        before the payload; NOTEs tell of reads past the end, refused sizes, lists and maps cut
        short, nesting beyond 128 and unknown types; VALUE is written as call prints it, for
        everything but lists and maps, whose elements follow on their own lines.
        --as value         values one after another (the default)
        --as call          a method call: method, arguments
        --as envelope      a response: flag, then result, or code, message and details
        Bytes left over are read as further values.
encode  Prints the standard-codec bytes of a JSON value in hex (- reads standard input).

JSON integers become 32-bit integers when they fit and 64-bit ones otherwise; other numbers
become doubles, arrays lists and objects maps with string keys.

Exit codes: 0 done (for call: whatever the answer was), 1 bad command line or input,
2 the plugin library cannot be loaded or does not export VelmoranPluginRegisterWithRegistrar,
3 the plugin did not answer, answered with something that is no response, or misused the
engine.
)";
}

int RunHostCommand(const std::vector<std::string>& arguments, const HostEnvironment& environment,
                   std::istream& in, std::ostream& out, std::ostream& err) {
  for (const std::string& argument : arguments) {
    if (argument == "--") break;
    if (argument == "--help" || argument == "-h") {
      out << UsageText();
      return kExitOk;
    }
  }
  if (arguments.empty()) {
    return Report(err, kExitUsage, "no command (" + std::string(kProgram) + " --help)");
  }
  const std::string& command = arguments[0];
  if (command == "help") {
    out << UsageText();
    return kExitOk;
  }
  if (command == "call") return RunCall(arguments, environment, in, out, err);
  if (command == "decode") return RunDecode(arguments, in, out, err);
  if (command == "encode") return RunEncode(arguments, in, out, err);
  return Report(err, kExitUsage,
                "unknown command \"" + command + "\" (" + kProgram + " --help lists them)");
}

}  // namespace velmoran_host::cli
