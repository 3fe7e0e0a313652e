// The checks that a package can be installed safely, run before anything is
// written: the payload is whole, its title can name the installed files and
// folder, every media extension is safe inside a file name, the Windows
// folder is known and every target path fits 259 characters. A package that
// fails any of them is refused with one message and the install stops, so
// nothing is ever written outside the screen-saver path in the Windows folder
// and the data folder.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

// Caption of every message that ends the install with an error.
inline constexpr const char kErrorCaption[] = "Errore!!!";

// Faults that refuse a package, each with its own message.
enum PackageFault : int {
    kFaultDamaged,    // the payload is missing, incomplete or points past the file
    kFaultTitle,      // the title cannot name a file (detail: the title)
    kFaultExtension,  // a media extension is not safe in a file name (detail: it)
    kFaultNoWindows,  // the Windows folder cannot be had
    kFaultTooLong,    // a target path would not fit 259 characters
};

// Shows the message of `fault` (caption kErrorCaption, MB_OK with the error
// icon, owner `owner`), `detail` filling its placeholder. Returns 0.
int ShowPackageFault(OsWindow owner, PackageFault fault, const char* detail = nullptr);

// Runs every check but the packed streams' on the installer file
// `installerPath` for the stripped title `title`. On the first fault shows
// its message (owner `owner`, caption kErrorCaption, MB_OK with the error
// icon) and returns 0; returns 1 when the package can be installed as far as
// these checks tell.
int PackageCheck(OsWindow owner, const char* installerPath, const char* title);

// How the packed entries are shared between the check's two workers: the
// largest kPlannedEntries of them are dealt largest first, each to the worker
// with less to decode so far; every other packed entry then goes, in
// catalogue order, to the worker with less at that point. Both workers walk
// the catalogue and deal the same way from the same plan, so neither needs
// the other's list and the shares never overlap or miss an entry.
inline constexpr int kPlannedEntries = 64;
struct SharePlan {
    int count;                                // entries held below, largest first
    std::uint32_t index[kPlannedEntries];     // catalogue index of each
    std::uint32_t size[kPlannedEntries];      // its unpacked size
    std::uint8_t worker[kPlannedEntries];     // 0 or 1, set by FinishSharePlan
    std::uint64_t load[2];                    // bytes dealt to each worker so far
    std::uint32_t packed;                     // packed entries seen while planning
};

// Starts an empty plan.
void StartSharePlan(SharePlan* plan);
// Offers the packed entry `index` of `unpackedSize` bytes, in catalogue
// order: it is kept when it is among the largest so far (an earlier entry
// keeps its place among equal sizes).
void PlanPackedEntry(SharePlan* plan, std::uint32_t index, std::uint32_t unpackedSize);
// Deals the kept entries largest first; ties go to worker 0.
void FinishSharePlan(SharePlan* plan);
// The worker (0 or 1) that decodes the packed entry `index`. Called for
// every packed entry in catalogue order on the worker's own copy of the
// finished plan, which it updates to deal the entries the plan did not keep.
int WorkerOf(SharePlan* walk, std::uint32_t index, std::uint32_t unpackedSize);

// Decodes every packed entry once, without writing it anywhere: 1 when each
// stream reads as an encoder writes it; 0 when one needs bits past its stored
// bytes, leaves many of them unused, overruns its unpacked size or reads
// window positions it never wrote (a damaged or forged stream would install
// as garbage, or inflate a tiny package to gigabytes), or the catalogue
// cannot be read. Shows nothing and uses the file operations only, so it may
// run on a thread of its own while the user answers the questions. With two
// or more packed entries it shares them with a second thread, started and
// waited for through g_platform, each worker decoding with its own state
// and its own handle on the file; when no second thread can be had, the
// calling thread decodes both shares. Sound only when every entry is.
int PackedStreamsSound(const char* installerPath);
