#include "export/asf_writer.h"

int AsfWriter::Open(const std::string&, int, int, int, int, int) { return 0; }

void AsfWriter::WriteVideoFrame(const uint8_t*, int, int, int, int32_t, uint8_t) {}

void AsfWriter::WriteAudio(const uint8_t*, int) {}

void AsfWriter::Close() {}
