#pragma once
// Large blocks of memory straight from the system, for arenas of many megabytes. Where the
// system has huge pages for ordinary memory (Linux), a block asks for them, so that filling it
// faults once every 2 MB instead of every 4 KB page: the faults of a fresh arena otherwise
// cost as much as the decoding that fills it. A block grows and shrinks in place where the
// system can remap it, so that growing never holds two copies.

#include <cstddef>

namespace tarvolen::os {

// A block of `bytes`, or nullptr when the system has no room.
void* allocateLarge(size_t bytes);
// The block made `newBytes` long, its first bytes kept (as many as both sizes hold); it may
// move. nullptr, with the block left as it was, when the system has no room. `oldBytes` is
// what the block was allocated or last resized with.
void* resizeLarge(void* block, size_t oldBytes, size_t newBytes);
// Gives the block back. `bytes` as for resizeLarge.
void freeLarge(void* block, size_t bytes);
// Asks for huge pages for the whole 2 MB pages inside [block, block + bytes), memory of the
// heap's about to be filled (a buffer of megabytes reserved for an encoded packet); only
// advice, as for allocateLarge.
void adviseHugePages(void* block, size_t bytes);
// Lets the system take the block's pages back whenever it needs memory, until they are
// written again: for a block kept for later use. Its contents are then undefined.
void discardLargeContents(void* block, size_t bytes);

}  // namespace tarvolen::os
