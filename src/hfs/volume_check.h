// The consistency check of the open volume: master directory block and its
// alternate, both B-trees, the catalog's records, every fork's extents and the
// allocation bitmap. It only reads, through the block cache and the fork
// mapping, and treats everything on the medium as untrusted: a structure that
// does not hold together becomes a reported problem.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// What a problem means for a write to the volume.
enum class ProblemSeverity : uint8_t {
    // Allocation, IDs and the next ID, counts, tree structure: a write could
    // spread the damage or build on it (reuse blocks in use, repeat an ID,
    // delete what a wrong record points at).
    Blocking,
    // Wrong, but read by no write and rewritten by none in a way that builds
    // on it: a flag of the MDB, the alternate MDB (read only by repair
    // tools), a thread record's copy of its folder's name, blocks marked in
    // use that no fork owns.
    Harmless,
};

// Appends one line per problem found (Windows-1252 text, like every string
// of the engine) and returns how many it appended; with `severities`, one
// severity per line appended, in the same order. StatusCode is the same on
// return as on entry. With no volume open, reports that and returns 1.
int CheckVolume(std::vector<std::string>* problems, std::vector<ProblemSeverity>* severities = nullptr);
