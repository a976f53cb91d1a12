// The consistency check of the open volume: master directory block and its
// alternate, both B-trees, the catalog's records, every fork's extents and the
// allocation bitmap. It only reads, through the block cache and the fork
// mapping, and treats everything on the medium as untrusted: a structure that
// does not hold together becomes a reported problem.
#pragma once
#include <string>
#include <vector>

// Appends one line per problem found (Windows-1252 text, like every string
// of the engine) and returns how many it appended. StatusCode is the same on
// return as on entry. With no volume open, reports that and returns 1.
int CheckVolume(std::vector<std::string>* problems);
