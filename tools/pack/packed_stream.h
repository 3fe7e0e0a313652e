// glimmer-pack's one way into the decoder: decoding a packed entry of an
// open package, with the judgement of its stream. `verify` and `extract`
// both go through here, so they can never judge a stream differently.
#pragma once

#include <string>

#include "payload/catalogue.h"
#include "payload/pump.h"
#include "platform/platform.h"

// How the decode of one packed entry went.
struct PackedStreamOutcome {
    int faults = 0;           // StreamFault bits of decoder.h; 0 when sound
    bool unreadable = false;  // the entry's offset could not be reached
    bool writeFailed = false; // the output refused a chunk
};

// Decodes the packed entry `record` of `package` (open for reading; the
// position is moved) into `out`, or, with `out` kNoFile, only reads the
// stream to judge it. `pump` (may be null) is run after the first symbol
// and then each time the output passes a further kPumpStep bytes. A stream is sound when it takes exactly its stored
// bytes, ends its last symbol at the unpacked size and reads no window
// position it has not written: as glimmer-pack writes every stream.
PackedStreamOutcome DecodePackedEntry(OsFile package, const FileRecord& record, OsFile out,
                                      const PumpControl* pump);

// True when nothing went wrong.
inline bool Sound(const PackedStreamOutcome& o) { return o.faults == 0 && !o.unreadable && !o.writeFailed; }

// The faults in English, for instance "its stream needs more bytes than
// are stored".
std::string DescribeOutcome(const PackedStreamOutcome& outcome);
