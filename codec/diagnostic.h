#ifndef VELMORAN_CODEC_DIAGNOSTIC_H_
#define VELMORAN_CODEC_DIAGNOSTIC_H_

#include <string_view>

namespace flutter {

// Reports misuse or malformed input. The library raises no errors to its callers; instead it
// writes one line to standard error (the text, an end of line, then a flush) and carries on
// with a neutral outcome. Every diagnostic of every layer goes through here, written with a
// single stream operation so that lines from replies on other threads do not interleave.
void WriteDiagnosticLine(std::string_view text);

}  // namespace flutter

#endif  // VELMORAN_CODEC_DIAGNOSTIC_H_
