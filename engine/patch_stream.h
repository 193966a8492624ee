// The patch file's record primitives: one write and one read per record form,
// the header check, and the chunked copy that moves file contents.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "engine/large_file.h"
#include "engine/patch_format.h"

// Every failure below is a CZRErr of type 0 with the patchReader location;
// any write may instead raise the type-1 "larger then 4GB" error of the
// large-file layer. Nothing is retried; no partial value is returned.
// Used by one operation at a time on the job's thread.

// ---- Write side: each writes its tag, then its payload ---------------------

// "Unable write a type to a patch." when the byte cannot be written.
void WriteTag(zrFile::Writer& out, RecordType tag);
// "Unable write DWORD a patch." when the 8 bytes cannot be written.
void WriteQword(zrFile::Writer& out, int64_t value);
// "Unable write DWORD to a patch." when the 4 bytes cannot be written.
void WriteDword(zrFile::Writer& out, uint32_t value);
// No tag. "Unable write buffer to a patch. exp:" n " actual:" written.
void WriteRaw(zrFile::Writer& out, const void* buffer, int64_t n);
// Stores the text up to its first NUL, so a stored string never holds one.
void WriteString(zrFile::Writer& out, std::u16string_view text);

// ---- Read side: each first checks its tag ----------------------------------

// "Unable to read a type." when no byte is left, "Type mismatch." when the
// byte is another tag.
void ExpectTag(zrFile::Reader& in, RecordType tag);
// "Unable to read qword from a patch." when the 8 bytes are missing.
int64_t ReadQword(zrFile::Reader& in);
// "Unable to read dword from a patch." when the 4 bytes are missing.
uint32_t ReadDword(zrFile::Reader& in);
// No tag. "Unable to read a buffer from a patch." unless all n bytes arrive.
void ReadRaw(zrFile::Reader& in, void* buffer, int64_t n);
// The stored length never sizes a buffer by itself: the text grows in bounded
// steps as its bytes arrive, so a length larger than the rest of the file
// fails as a short read ("Unable to read a buffer from a patch.") having held
// no more memory than the file could fill.
std::u16string ReadString(zrFile::Reader& in);
// Reads n raw bytes and compares them with text; a short read fails as
// ReadRaw, different bytes with "Unable to open a patch file, missing magic
// number."
void ExpectMagic(zrFile::Reader& in, const char* text, int64_t n);

// Reads the 34-byte header from offset 0: magic, index offset, completion
// flag. A flag other than 1 fails with "This patch file has not been properly
// written.". Returns the index offset; the reader then stands at offset 34.
int64_t ReadPatchHeader(zrFile::Reader& in);

// ---- Contents --------------------------------------------------------------

// Moves up to `length` bytes from `source` into `writeChunk` through the
// caller's buffer: one read and one writeChunk call per chunk of at most
// bufferSize bytes, no other copy. Stops early when a read delivers nothing
// or fails. writeChunk judges (and raises on) its own write. Returns the
// number of bytes moved; the caller decides whether a shortfall is an error.
int64_t CopyThroughBuffer(zrFile::File& source, int64_t length, uint8_t* buffer,
                          uint32_t bufferSize,
                          const std::function<void(const uint8_t*, int64_t)>& writeChunk);
