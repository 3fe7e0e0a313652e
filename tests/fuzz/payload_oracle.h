// A second reading of an installer file's payload, done directly on its bytes
// with bounds checked at every step, and the comparison of the payload
// reader's operations (through the in-memory file table) against it.
//
// The reading accepts exactly what the reader accepts: an "MZ" header, the
// "PE\0\0" signature, the first ".rsrc" among NumberOfSections section
// headers, the first entry at each level of the resource tree, and a payload
// start that is not negative. Everything past that is the catalogue as laid
// out in payload.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "payload/payload.h"

struct ExpectedPayload {
    bool found = false;          // OpenPayload succeeds
    std::uint64_t start = 0;     // its position (may lie past the end)

    bool hasLength = false;      // the license length field is inside the file
    std::uint16_t licenseLength = 0;
    bool hasTitle = false;       // the whole title field is inside the file
    std::uint8_t title[kTitleSize] = {};
    bool hasHead = false;        // the numbering base is inside the file too
    std::uint16_t numberingBase = 0;

    // Every whole record from the first on, up to and including the
    // terminator, or up to the last whole one when the file ends first.
    std::vector<FileRecord> records;
    bool terminated = false;     // the last of `records` is the terminator

    bool sound = false;          // ValidatePayload's verdict
};

ExpectedPayload ReadExpectedPayload(const std::uint8_t* data, std::size_t size);

// Runs OpenPayload, ReadTitle, ReadLicenseText, SumEntrySizes,
// ValidatePayload (with a message buffer of exactly `messageSize` bytes) and
// the catalogue walk (ReadCatalogueHead, then ReadRecord until the
// terminator or a short read) on `data` through the in-memory file table,
// and aborts on the first difference from the expected reading, on a file or
// license block left open, or on a message written past its buffer.
// Returns the expected reading.
ExpectedPayload CheckPayloadOperations(const std::uint8_t* data, std::size_t size, std::size_t messageSize);
