// Finding the payload inside an installer file and reading its catalogue
// (catalogue.h draws its layout).
//
// An installer is a 32-bit PE file. The catalogue begins at the data of the
// first resource of its resource tree (first entry at the type, name and
// language levels: the "LASTRES" 1000 anchor in a built installer).
//
// Every operation takes the installer file's path, opens it anew and closes
// it again. All file access goes through g_platform.
#pragma once

#include <cstddef>
#include <cstdint>

#include "payload/catalogue.h"
#include "platform/platform.h"

// Finds the payload: a stream on the file positioned at payload offset 0, or
// kNoFile when the file cannot be opened, is not a PE file, is too short, or
// has no ".rsrc" section among its NumberOfSections headers.
OsFile OpenPayload(const char* path);

// Copies the catalogue's 260-byte title field into `title` as it stands;
// leaves it untouched when the payload cannot be opened.
void ReadTitle(const char* path, char* title);

// The license text as a block of L + 1 bytes from g_platform->TextAlloc,
// ending with a NUL, with *length = L; nullptr when there is none, the
// payload cannot be opened, memory cannot be had, or fewer than L bytes
// could be read. The caller frees the block with g_platform->TextFree.
char* ReadLicenseText(const char* path, std::uint32_t* length);

// Reads the catalogue's head from a stream that OpenPayload returned: the
// license length, the license text (skipped), the title (skipped) and the
// numbering base. Leaves the stream at the first file record. 1 on success.
int ReadCatalogueHead(OsFile payload, std::uint16_t* licenseLength, std::uint16_t* numberingBase);

// Reads the next 28-byte record. 1 when all 28 bytes were read; 0 otherwise,
// which ends every walk (a previous record is never reused).
int ReadRecord(OsFile payload, FileRecord* record);

// Validation, run before anything is written: the catalogue is complete (a
// terminator record is present), the title field holds a NUL, and every
// record's data lie inside the file. 1 when sound; otherwise 0 with a short
// English description of the first fault in `message` (NUL-terminated,
// truncated to `size`).
int ValidatePayload(const char* path, char* message, std::size_t size);
