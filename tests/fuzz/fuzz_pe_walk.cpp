// Fuzz target: the payload reader on arbitrary files. The input is the whole
// installer file: PE headers, section table, resource tree, catalogue.
//
// OpenPayload, ReadTitle, ReadLicenseText, SumEntrySizes, ValidatePayload
// and the catalogue walk are each compared with a bounds-checked reading of
// the same bytes; a loop that never ends shows up as a libFuzzer timeout.
#include <cstddef>
#include <cstdint>

#include "memory_platform.h"
#include "payload_oracle.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    MemoryFilesInstall();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The message buffer's size varies with the input, from none at all to
    // more than any message needs.
    CheckPayloadOperations(data, size, size % 211);
    return 0;
}
