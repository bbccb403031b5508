#include "codec/diagnostic.h"

#include <iostream>
#include <string>

namespace flutter {

void WriteDiagnosticLine(std::string_view text) {
  std::string line;
  line.reserve(text.size() + 1);
  line.append(text);
  line.push_back('\n');
  std::cerr.write(line.data(), static_cast<std::streamsize>(line.size()));
  std::cerr.flush();
}

}  // namespace flutter
