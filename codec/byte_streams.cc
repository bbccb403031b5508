#include "codec/byte_streams.h"

#include "codec/diagnostic.h"

namespace flutter {

ByteStreamReader::~ByteStreamReader() = default;
ByteStreamWriter::~ByteStreamWriter() = default;

void ByteBufferStreamReader::ReportInvalidRead() { WriteDiagnosticLine(kInvalidReadDiagnostic); }

}  // namespace flutter
